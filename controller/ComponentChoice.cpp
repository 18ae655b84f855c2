#include "ComponentChoice.h"

#include "SimulatedController.h"

std::unique_ptr<TrelkComponent> CreateTrelk1()
{
    const QString choice = qEnvironmentVariable("TAVRIN_CONTROLLER");
    if (choice.isEmpty() || choice == QLatin1String("accept"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Accept);
    if (choice == QLatin1String("refuse"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Refuse);
    if (choice == QLatin1String("silent"))
        return std::make_unique<SimulatedController>(SimulatedController::Mode::Silent);
    throw TrelkError(QStringLiteral("TAVRIN_CONTROLLER=\"%1\" is not one of: accept, refuse, silent").arg(choice));
}
