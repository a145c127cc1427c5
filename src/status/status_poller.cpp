// The status poller: one status request a second, its counts published in the run state.
#include "status/status_poller.h"

#include "app/run_state.h"
#include "status/status_request.h"

unsigned __stdcall status_poller(void*) {
    unsigned long long phy = 0;
    unsigned long long lnk = 0;

    while (!is_stopping()) {
        if (query_status(run_state.device_handle, 0, &phy, &lnk, nullptr, nullptr) == 0) {
            // The monitor widens these back to 64 bits; status_polls tells it they are fresh,
            // so it moves last.
            InterlockedExchange(&run_state.phy_errors, static_cast<LONG>(static_cast<DWORD>(phy)));
            InterlockedExchange(&run_state.lnk_errors, static_cast<LONG>(static_cast<DWORD>(lnk)));
            InterlockedIncrement(&run_state.status_polls);
        } else if (plain_load(&run_state.ignore_ep0_errors) == 0) {
            // A failure that a stop brought about (a cancelled poll) still counts, but the
            // user needs no advice then.
            if (!is_stopping()) {
                printf(
                    "Note, if your host uses Etron USB3.0 driver, consider running\n"
                    "Corvantel  with -ignore_EP0_errors option\n"
                    "Type   Corvantel -help    for getting help on options\n");
            }
            plain_store(&run_state.exit_status, EXIT_STATUS_SETUP);
            break;
        }
        WaitForSingleObject(run_state.stop_event, 1000);
    }
    request_stop();
    return 0;
}
