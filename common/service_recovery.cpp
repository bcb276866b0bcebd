#include "service_recovery.h"

bool ConfigureServiceRecovery(SC_HANDLE service)
{
    SC_ACTION actions[3] = {
        {SC_ACTION_RESTART, kRecoveryRestartDelayMs},
        {SC_ACTION_RESTART, kRecoveryRestartDelayMs},
        {SC_ACTION_NONE, 0},
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
