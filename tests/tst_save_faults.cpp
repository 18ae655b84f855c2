// Each Windows call that a load and a save make on the settings folder,
// failed in turn. The test rewrites the import tables of its own program and
// of Qt's core library, so that the N-th such call of one function fails with
// an error that the function really returns; the counts come from a run of
// the same case without faults. After every trial:
//  - a failed save kept the old file byte for byte and gave a reason (the
//    window says "Cant save" and asks for no reload), a save that succeeded
//    left the new file (the window asks for the reload);
//  - nothing of ours is left beside the file.
#include "TestFolder.h"
#include "settings/BackwardIni.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <string>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

namespace {

enum Api {
    kCreateFileW,
    kGetFileInformationByHandle,
    kGetNamedSecurityInfoW,
    kSetNamedSecurityInfoW,
    kWriteFile,
    kFlushFileBuffers,
    kMoveFileExW,
    kSetEndOfFile,
    kSetFileAttributesW,
    kCreateMutexW,
    kApis
};

struct Fault {
    const char *name;
    std::initializer_list<DWORD> errors; // what the function really returns
};
const Fault kFaults[kApis] = {
    {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"GetFileInformationByHandle", {ERROR_ACCESS_DENIED}},
    {"GetNamedSecurityInfoW", {ERROR_ACCESS_DENIED}},
    {"SetNamedSecurityInfoW", {ERROR_ACCESS_DENIED}},
    {"WriteFile", {ERROR_DISK_FULL, ERROR_IO_DEVICE}},
    {"FlushFileBuffers", {ERROR_DISK_FULL, ERROR_IO_DEVICE}},
    {"MoveFileExW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"SetEndOfFile", {ERROR_DISK_FULL, ERROR_IO_DEVICE}},
    {"SetFileAttributesW", {ERROR_ACCESS_DENIED}},
    {"CreateMutexW", {ERROR_ACCESS_DENIED}},
};

// The trial under way: test state, set only by the test.
struct Trial {
    QString folder; // native, as the system names it
    int calls[kApis] = {};
    Api failing = kApis;
    int failAt = 0;
    DWORD error = 0;
    bool noDeleteRight = false;  // "Write" without "Modify"
    bool refusedAccessList = false; // a real list, which cannot be given
};
Trial trial;

bool inFolder(const wchar_t *name)
{
    if (!name || trial.folder.isEmpty())
        return false;
    QString path = QDir::toNativeSeparators(QString::fromWCharArray(name));
    if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return path.startsWith(trial.folder + QLatin1Char('\\'), Qt::CaseInsensitive);
}

bool handleInFolder(HANDLE handle)
{
    wchar_t name[MAX_PATH * 2];
    const DWORD length = GetFinalPathNameByHandleW(handle, name, MAX_PATH * 2, FILE_NAME_NORMALIZED);
    return length > 0 && length < MAX_PATH * 2 && inFolder(name);
}

// Counts a call of ours; true where this one is to fail.
bool failsNow(Api api, bool ours)
{
    return ours && ++trial.calls[api] == trial.failAt && trial.failing == api;
}

template <typename Function>
Function original(const wchar_t *library, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(library), name)));
}
const auto realCreateFileW = original<decltype(&CreateFileW)>(L"kernel32.dll", "CreateFileW");
const auto realGetFileInformationByHandle =
    original<decltype(&GetFileInformationByHandle)>(L"kernel32.dll", "GetFileInformationByHandle");
const auto realGetNamedSecurityInfoW =
    original<decltype(&GetNamedSecurityInfoW)>(L"advapi32.dll", "GetNamedSecurityInfoW");
const auto realSetNamedSecurityInfoW =
    original<decltype(&SetNamedSecurityInfoW)>(L"advapi32.dll", "SetNamedSecurityInfoW");
const auto realWriteFile = original<decltype(&WriteFile)>(L"kernel32.dll", "WriteFile");
const auto realFlushFileBuffers = original<decltype(&FlushFileBuffers)>(L"kernel32.dll", "FlushFileBuffers");
const auto realMoveFileExW = original<decltype(&MoveFileExW)>(L"kernel32.dll", "MoveFileExW");
const auto realSetEndOfFile = original<decltype(&SetEndOfFile)>(L"kernel32.dll", "SetEndOfFile");
const auto realSetFileAttributesW = original<decltype(&SetFileAttributesW)>(L"kernel32.dll", "SetFileAttributesW");
const auto realCreateMutexW = original<decltype(&CreateMutexW)>(L"kernel32.dll", "CreateMutexW");
const auto realDeleteFileW = original<decltype(&DeleteFileW)>(L"kernel32.dll", "DeleteFileW");

template <typename Result>
Result failWith(Result result)
{
    SetLastError(trial.error);
    return result;
}

HANDLE WINAPI fakeCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model)
{
    const bool ours = inFolder(name);
    if (failsNow(kCreateFileW, ours))
        return failWith(INVALID_HANDLE_VALUE);
    if (ours && trial.noDeleteRight && (access & DELETE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return realCreateFileW(name, access, share, security, disposition, flags, model);
}

BOOL WINAPI fakeGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info)
{
    if (failsNow(kGetFileInformationByHandle, handleInFolder(file)))
        return failWith(FALSE);
    return realGetFileInformationByHandle(file, info);
}

DWORD WINAPI fakeGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID *owner,
                                       PSID *group, PACL *list, PACL *audit, PSECURITY_DESCRIPTOR *descriptor)
{
    const bool ours = inFolder(name);
    if (failsNow(kGetNamedSecurityInfoW, ours))
        return trial.error;
    if (ours && trial.refusedAccessList && list && descriptor) {
        // Everyone, full access: a list that Wine itself never reports.
        BOOL present = FALSE, defaulted = FALSE;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, descriptor,
                                                                  nullptr) ||
            !GetSecurityDescriptorDacl(*descriptor, &present, list, &defaulted))
            return GetLastError();
        return ERROR_SUCCESS;
    }
    return realGetNamedSecurityInfoW(name, type, what, owner, group, list, audit, descriptor);
}

DWORD WINAPI fakeSetNamedSecurityInfoW(LPWSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
                                       PSID group, PACL list, PACL audit)
{
    const bool ours = inFolder(name);
    if (failsNow(kSetNamedSecurityInfoW, ours))
        return trial.error;
    if (ours && trial.refusedAccessList)
        return ERROR_ACCESS_DENIED;
    return realSetNamedSecurityInfoW(name, type, what, owner, group, list, audit);
}

BOOL WINAPI fakeWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (failsNow(kWriteFile, handleInFolder(file)))
        return failWith(FALSE);
    return realWriteFile(file, bytes, size, written, overlapped);
}

BOOL WINAPI fakeFlushFileBuffers(HANDLE file)
{
    if (failsNow(kFlushFileBuffers, handleInFolder(file)))
        return failWith(FALSE);
    return realFlushFileBuffers(file);
}

BOOL WINAPI fakeMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    const bool ours = inFolder(to);
    if (failsNow(kMoveFileExW, ours))
        return failWith(FALSE);
    if (ours && trial.noDeleteRight) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return realMoveFileExW(from, to, flags);
}

BOOL WINAPI fakeSetEndOfFile(HANDLE file)
{
    if (failsNow(kSetEndOfFile, handleInFolder(file)))
        return failWith(FALSE);
    return realSetEndOfFile(file);
}

BOOL WINAPI fakeSetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    if (failsNow(kSetFileAttributesW, inFolder(name)))
        return failWith(FALSE);
    return realSetFileAttributesW(name, attributes);
}

HANDLE WINAPI fakeCreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name)
{
    const bool ours = name && std::wcsncmp(name, L"Local\\Tavrin.save.", 18) == 0;
    if (failsNow(kCreateMutexW, ours))
        return failWith(HANDLE(nullptr));
    return realCreateMutexW(security, owned, name);
}

// The file that a user without the right to delete it could not remove.
BOOL WINAPI fakeDeleteFileW(LPCWSTR name)
{
    if (inFolder(name) && trial.noDeleteRight) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return realDeleteFileW(name);
}

// Points every import of `name` by `module` at `replacement`.
void patchImports(HMODULE module, const char *name, void *replacement)
{
    auto *base = reinterpret_cast<BYTE *>(module);
    const auto *headers =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return;
    for (auto *library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         library->Name; ++library) {
        if (!library->OriginalFirstThunk)
            continue;
        auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + library->OriginalFirstThunk);
        auto *entries = reinterpret_cast<IMAGE_THUNK_DATA *>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++entries) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                std::strcmp(reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name,
                            name) != 0)
                continue;
            DWORD was = 0;
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, PAGE_READWRITE, &was);
            entries->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, was, &was);
        }
    }
}

// A real file's size, longer than the text the writer makes of it.
const QByteArray kOld = "; cell 4, line 2\r\n; checked by the maintenance team\r\n\r\n[trace]\r\nenable = true\r\n"
                        "finished_sub = stop\r\nmovements = 12\r\ncycflags = 7\r\nremark = taught 2019\r\n\r\n"
                        "[ofc]\r\nset_to_false = true\r\ntrace = no_trace\r\nrestore = at_fwd\r\n\r\n[scan]\r\n"
                        "enable = true\r\nspeed = 40\r\n\r\n[general]\r\nbackwardstart = true\r\nimplicit_bco = false\r\n"
                        "quit_m_trace_scan = true\r\n\r\n[endsection]\r\n";

} // namespace

class TestSaveFaults : public QObject, private TestFolder
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyCallFailed_data();
    void everyCallFailed();

private:
    // One load and one save; empty where every promise was kept.
    QString runTrial(bool secondLink);
};

void TestSaveFaults::initTestCase()
{
    const std::pair<const char *, void *> fakes[] = {
        {"CreateFileW", reinterpret_cast<void *>(&fakeCreateFileW)},
        {"GetFileInformationByHandle", reinterpret_cast<void *>(&fakeGetFileInformationByHandle)},
        {"GetNamedSecurityInfoW", reinterpret_cast<void *>(&fakeGetNamedSecurityInfoW)},
        {"SetNamedSecurityInfoW", reinterpret_cast<void *>(&fakeSetNamedSecurityInfoW)},
        {"WriteFile", reinterpret_cast<void *>(&fakeWriteFile)},
        {"FlushFileBuffers", reinterpret_cast<void *>(&fakeFlushFileBuffers)},
        {"MoveFileExW", reinterpret_cast<void *>(&fakeMoveFileExW)},
        {"SetEndOfFile", reinterpret_cast<void *>(&fakeSetEndOfFile)},
        {"SetFileAttributesW", reinterpret_cast<void *>(&fakeSetFileAttributesW)},
        {"CreateMutexW", reinterpret_cast<void *>(&fakeCreateMutexW)},
        {"DeleteFileW", reinterpret_cast<void *>(&fakeDeleteFileW)},
    };
    // This program holds the unit under test; Qt's core library does its
    // files' opens, writes and cuts.
    const HMODULE core = GetModuleHandleW(QT_VERSION_MAJOR == 5 ? L"Qt5Core.dll" : L"Qt6Core.dll");
    QVERIFY(core);
    for (const auto &[name, fake] : fakes) {
        patchImports(GetModuleHandleW(nullptr), name, fake);
        patchImports(core, name, fake);
    }
}

QString TestSaveFaults::runTrial(bool secondLink)
{
    if (!renewFolder())
        return QStringLiteral("no test folder");
    const std::wstring link = QDir::toNativeSeparators(path(QStringLiteral("Backward.lnk"))).toStdWString();
    const std::wstring file = QDir::toNativeSeparators(path()).toStdWString();
    if (!writeBytes(path(), kOld) || (secondLink && !CreateHardLinkW(link.c_str(), file.c_str(), nullptr)))
        return QStringLiteral("cannot make the file");
    std::fill(std::begin(trial.calls), std::end(trial.calls), 0);
    trial.folder = QDir::toNativeSeparators(QDir(folder()).canonicalPath());

    Settings settings = Settings::initial();
    loadSettingsFile(path(), settings); // a failed load shows what it read
    QString reason;
    const bool saved = writeSettingsFile(path(), settings, &reason);
    const Trial finished = trial;
    trial.folder.clear(); // no faults in the checks
    const QByteArray now = readBytes(path());

    QString broken;
    if (saved && now != renderSettings(settings))
        broken = QStringLiteral("saved, but the file is not the new one");
    else if (!saved && (now != kOld || reason.isEmpty()))
        broken = QStringLiteral("not saved (%1), but the file is not the old one").arg(reason);
    QStringList beside = QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    beside.removeAll(QStringLiteral("Backward.ini"));
    beside.removeAll(QStringLiteral("Backward.lnk"));
    if (!beside.isEmpty())
        broken += QStringLiteral(" left beside it: ") + beside.join(QLatin1Char(' '));
    trial = finished;
    trial.folder.clear();
    dropFolder();
    return broken;
}

void TestSaveFaults::everyCallFailed_data()
{
    QTest::addColumn<bool>("secondLink");
    QTest::addColumn<bool>("noDeleteRight");
    QTest::addColumn<bool>("refusedAccessList");
    QTest::newRow("replace") << false << false << false;
    QTest::newRow("in place, a second hard link") << true << false << false;
    QTest::newRow("a user without the right to delete the file") << false << true << false;
    QTest::newRow("an access list that cannot be given") << false << false << true;
}

void TestSaveFaults::everyCallFailed()
{
    QFETCH(bool, secondLink);
    QFETCH(bool, noDeleteRight);
    QFETCH(bool, refusedAccessList);
    trial = Trial();
    trial.noDeleteRight = noDeleteRight;
    trial.refusedAccessList = refusedAccessList;

    // The calls of a run without faults, and how often each was made.
    QString broken = runTrial(secondLink);
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
    int counts[kApis];
    std::copy(std::begin(trial.calls), std::end(trial.calls), std::begin(counts));
    QStringList made;
    for (int api = 0; api < kApis; ++api)
        made << QStringLiteral("%1 %2").arg(QLatin1String(kFaults[api].name)).arg(counts[api]);
    qInfo("calls: %s", qPrintable(made.join(QLatin1String(", "))));

    int trials = 0;
    QStringList failures;
    for (int api = 0; api < kApis; ++api) {
        for (const DWORD error : kFaults[api].errors) {
            for (int when = 1; when <= counts[api]; ++when) {
                trial.failing = Api(api);
                trial.failAt = when;
                trial.error = error;
                broken = runTrial(secondLink);
                ++trials;
                const QString name =
                    QStringLiteral("%1 #%2 error %3").arg(QLatin1String(kFaults[api].name)).arg(when).arg(error);
                if (trial.calls[api] < when)
                    broken = QStringLiteral("the call was not reached");
                qInfo("%s: %s", qPrintable(name), broken.isEmpty() ? "ok" : qPrintable(broken));
                if (!broken.isEmpty())
                    failures << name + QStringLiteral(": ") + broken;
            }
        }
    }
    trial = Trial();
    qInfo("%d of %d trials kept every promise", int(trials - failures.size()), trials);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestSaveFaults)
#include "tst_save_faults.moc"
