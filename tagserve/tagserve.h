/* The 13 entry points of libtagserve.so, the OPC UA server the gateway loads
   at run time, and one addition a caller may look up. Plain C types: 32-bit
   integers, doubles, 64-bit times (100 ns since 1601-01-01 UTC), statuses 0
   good and 0x80000000 bad. */
#ifndef TAGSERVE_H
#define TAGSERVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TAGSERVE_API __attribute__((visibility("default")))

typedef void (*tagserve_write_callback)(int32_t id);

TAGSERVE_API int32_t DLL_add(void);
TAGSERVE_API int32_t UA_ServerNetworkLayerTCP_dll(int32_t port, int32_t byPassword, int32_t userLength,
                                                  int32_t passwordLength, tagserve_write_callback callback,
                                                  const char* credentials);
TAGSERVE_API int32_t setrunning_bool(int32_t running);
TAGSERVE_API int32_t getrunning_bool(void);
TAGSERVE_API int32_t add_new_group(int32_t nameLength, int32_t groupId, const char* name);
TAGSERVE_API int32_t Add_new_perem(int32_t nameLength, int32_t id, int32_t type, int32_t groupId, int32_t ns,
                                   int32_t writable, const char* name);
TAGSERVE_API int32_t Add_All_perem_to_serv(void);
TAGSERVE_API int32_t Set_new_val_to_perem(int32_t type, int32_t id, int32_t intValue, double doubleValue,
                                          uint32_t status, int64_t sourceTime, int64_t serverTime);
TAGSERVE_API int32_t get_int32_valwrite_by_index(int32_t id);
TAGSERVE_API double get_double_valwrite_by_index(int32_t id);
TAGSERVE_API uint8_t get_bool_valwrite_by_index(int32_t id);
TAGSERVE_API int32_t Set_new_quality_to_perem(int32_t id, uint32_t status, int64_t sourceTime, int64_t serverTime);
TAGSERVE_API int32_t create_din_arrays(int32_t variableCount, int32_t groupCount);

/* The addition: a write callback that decides the write's result. It returns
   the OPC UA status the client's write gets (0 Good, or a Bad code). Set
   after create_din_arrays (which clears it) and before
   UA_ServerNetworkLayerTCP_dll; that server then calls it instead of the
   plain callback. A caller that never sets it gets every write that reaches
   the plain callback answered Good. Returns 0. */
typedef uint32_t (*tagserve_write_status_callback)(int32_t id);
TAGSERVE_API int32_t set_write_status_callback(tagserve_write_status_callback callback);

#ifdef __cplusplus
}
#endif

#endif
