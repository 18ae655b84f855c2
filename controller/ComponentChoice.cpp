#include "controller/ComponentChoice.h"

#include "controller/SimulatedController.h"

#ifdef Q_OS_WIN
#include "controller/ActiveXComponent.h"
#endif

std::unique_ptr<TrelkComponent> CreateTrelk1()
{
#ifdef Q_OS_WIN
    return std::make_unique<ActiveXComponent>(L"TrelkLib.Trelk");
#else
    return CreateSimulatedTrelk1(qEnvironmentVariable("TAVRIN_CONTROLLER"));
#endif
}

std::unique_ptr<TrelkComponent> CreateSimulatedTrelk1(const QString &choice)
{
    if (choice.isEmpty() || choice == QLatin1String("accept"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Accept);
    if (choice == QLatin1String("refuse"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Refuse);
    if (choice == QLatin1String("silent"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Silent);
    throw TrelkError(
        QStringLiteral("TAVRIN_CONTROLLER=\"%1\" is not one of: accept, refuse, silent").arg(choice));
}
