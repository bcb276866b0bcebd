#include "service_recovery.h"

bool ConfigureServiceRecovery(SC_HANDLE service)
{
    // The SCM repeats the last action for every failure after it.
    SC_ACTION actions[3] = {
        {SC_ACTION_RESTART, kRecoveryQuickRestartDelayMs},
        {SC_ACTION_RESTART, kRecoveryQuickRestartDelayMs},
        {SC_ACTION_RESTART, kRecoveryLaterRestartDelayMs},
    };
    SERVICE_FAILURE_ACTIONSA failureActions = {};
    failureActions.dwResetPeriod = kRecoveryResetPeriod;
    failureActions.cActions = 3;
    failureActions.lpsaActions = actions;
    BOOL actionsSet = ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions);
    SERVICE_FAILURE_ACTIONS_FLAG onExitCode = {TRUE};
    BOOL flagSet = ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExitCode);
    return actionsSet && flagSet;
}
