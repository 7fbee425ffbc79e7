/* Command-interface client library of the storage adapter (libniciClient.so).
 * A platform part: the controller ships the library; this header is its C interface. */
#ifndef NICICLIENT_H
#define NICICLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the connection to the adapter's service interface; 0 = open. */
int32_t niCIOpen(void);
/* options: 12-byte caller block; option n is the native-order 32-bit word at bytes 4n..4n+3. */
int32_t niCISetOptions(void *options, int32_t option, int32_t value);
/* Sends one request message and waits for the answer; 0 = answer in the response buffer,
 * nonzero = failure with errno set (EBUSY: adapter busy). */
int32_t niCISendSyncRequest(void *request, uint32_t requestLength, void *options, void *result,
                            void *response);
/* 0 = the adapter carried the request out. */
int32_t niCIBGetRequestStatus(void *response);
/* Length in bytes of the answer body; ask before niCIBGetRequest. */
int32_t niCIBGetRequestSize(void *response);
/* Address of the answer body (laid out as the request message). */
void *niCIBGetRequest(void *response);
/* Closes the connection; only after a successful niCIOpen. */
int32_t niCIClose(void);

#ifdef __cplusplus
}
#endif

#endif /* NICICLIENT_H */
