/*
 * zynvx7w: in-band IPMI access to the baseboard management controller (BMC) through the
 * IMB driver's device "\\.\imb".
 *
 * Every function returns a Win32 error code, 0 for success. Open a session before sending
 * and close it when done; the device is open exactly while the process holds a session.
 * Any thread may call any function. Do not close the last session of the process while
 * one of its requests is still in progress.
 */
#ifndef ZYNVX7W_H
#define ZYNVX7W_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest number of request data bytes one request carries. */
#define VX7_MAX_REQUEST_DATA 51
/* Largest number of response data bytes one response carries (completion code excluded). */
#define VX7_MAX_RESPONSE_DATA 45
/* Responder slave address of the BMC. */
#define VX7_BMC_ADDRESS 0x20

/*
 * Opens a driver session and writes its number (0-511) to *session.
 * Results: 0; 55 (ERROR_DEV_NOT_EXIST) when the driver's device is absent, *session untouched;
 * 1450 (ERROR_NO_SYSTEM_RESOURCES) when all 512 sessions are open; 87 when session is NULL;
 * otherwise the error of opening the device.
 */
DWORD WINAPI OpenVX7Driver(DWORD *session);

/*
 * Closes a session. Results: 0; 6 (ERROR_INVALID_HANDLE) when the number is not an open
 * session; when the last session closes the device, the error of closing it, if any
 * (the session is released either way).
 */
DWORD WINAPI CloseVX7Driver(LONG session);

/*
 * Sends one IPMI request and receives the response.
 *   session          a number from OpenVX7Driver (not examined; any open session will do)
 *   netFnLun         network function in bits 7-2, responder LUN in bits 1-0 (0x18: Application, LUN 0)
 *   command          IPMI command
 *   requestData      request data, or NULL for none (requestLength is then ignored)
 *   requestLength    number of request data bytes, at most VX7_MAX_REQUEST_DATA
 *   responderAddress responder slave address (VX7_BMC_ADDRESS for the BMC)
 *   responseData     receives the response data, completion code excluded; may be NULL
 *                    only when *responseLength is 0
 *   responseLength   in: capacity of responseData; out: bytes stored
 *   completionCode   receives the IPMI completion code
 * Results: 0 when the BMC answered; the completion code is delivered, never judged.
 *   87  (ERROR_INVALID_PARAMETER) more than 51 data bytes, responseLength or completionCode
 *       NULL, or responseData NULL with a nonzero capacity; nothing is sent.
 *   122 (ERROR_INSUFFICIENT_BUFFER) the response does not fit the capacity, or no byte came back.
 *   111 (ERROR_BUFFER_OVERFLOW), 258 (WAIT_TIMEOUT, the BMC did not answer in time), or any
 *       other error of the device request.
 * On any nonzero result the three output areas are untouched.
 * Requests to the BMC wait the process's BMC timeout (5000 ms until SendVX7RequestTimed
 * changes it); requests to any other address wait 9 seconds. A request the driver has not
 * completed by then is cancelled and ends with 258 at most one second later, even when the
 * driver never completes it.
 */
DWORD WINAPI SendVX7Request(DWORD session, BYTE netFnLun, BYTE command, const BYTE *requestData,
                            BYTE requestLength, BYTE responderAddress, BYTE *responseData,
                            BYTE *responseLength, BYTE *completionCode);

/*
 * SendVX7Request with a new BMC timeout, in milliseconds, that stays in force for every later
 * request of the process to the BMC, timed or not (the last caller wins).
 * For responderAddress 0x20 the timeout becomes the new setting; for any other address the
 * setting becomes timeout when it is at least 9000, else 9000, and the request itself still
 * waits 9 seconds.
 * A setting below 1 or above 4294967 ms (its microseconds would not fit 32 bits) is refused
 * with 87 (ERROR_INVALID_PARAMETER): nothing is sent and the setting stays as it was.
 */
DWORD WINAPI SendVX7RequestTimed(DWORD session, BYTE netFnLun, BYTE command,
                                 const BYTE *requestData, BYTE requestLength,
                                 BYTE responderAddress, BYTE *responseData, BYTE *responseLength,
                                 BYTE *completionCode, LONG timeout);

/*
 * Writes the interface version to *version: minor in bits 7-0, major in bits 15-8
 * (0x00000106 is 1.6). A later version always gives a larger number. Result 0, or 87 when
 * version is NULL.
 */
DWORD WINAPI GetVX7Version(DWORD *version);

#ifdef __cplusplus
}
#endif

#endif /* ZYNVX7W_H */
