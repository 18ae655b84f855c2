#include "controller/ComponentChoice.h"

#include "controller/SimulatedController.h"

#ifdef Q_OS_WIN
#include "controller/ActiveXComponent.h"
#endif

std::unique_ptr<TrelkComponent> CreateTrelk1(const QString &choice)
{
#ifdef Q_OS_WIN
    if (choice.isEmpty() || choice == QLatin1String("component"))
        return std::make_unique<ActiveXComponent>(L"TrelkLib.Trelk");
#endif
    if (choice.isEmpty() || choice == QLatin1String("accept"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Accept);
    if (choice == QLatin1String("refuse"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Refuse);
    if (choice == QLatin1String("silent"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Silent);
#ifdef Q_OS_WIN
    const char accepted[] = "component, accept, refuse, silent";
#else
    const char accepted[] = "accept, refuse, silent";
#endif
    throw TrelkError(QStringLiteral("TAVRIN_CONTROLLER=\"%1\" is not one of: %2").arg(choice, accepted));
}
