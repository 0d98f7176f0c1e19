/* Control entries of the scripted test driver. They are exported next to the seven driver
 * entries under the same names in every one of the five libraries; the loader never looks
 * them up, tests resolve them with dlsym on their own handle of the library. */
#ifndef QX510_SCRIPTED_CONTROL_H
#define QX510_SCRIPTED_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum ScriptCallKind {
  ScriptCallInit = 0,
  ScriptCallSetConfig = 1,
  ScriptCallSend = 2,
  ScriptCallDone = 3,
  ScriptCallError = 4
};

#define SCRIPT_IP_TEXT_MAX 256u

/* One recorded entry call. */
struct ScriptLogEntry {
  uint32_t kind;          /* ScriptCallKind */
  uint32_t handle;        /* SetConfig, Send: the handle passed; Done: the handle pointed to */
  uint32_t word0;         /* Init of the word-taking libraries */
  uintptr_t block[16];    /* Init of the block-taking library: the words as passed */
  char ipText[SCRIPT_IP_TEXT_MAX]; /* ... and the text word 0 pointed to, zero-terminated */
  uint32_t config[3];     /* SetConfig: a, b, c */
  uint32_t request[8];    /* Send: the eight request words */
  uint32_t code;          /* Error: the code asked about */
};

typedef void (*ScriptResetFn)(void);
typedef void (*ScriptSetConfigByteFn)(uint32_t address, uint32_t value);
typedef uint32_t (*ScriptGetConfigByteFn)(uint32_t address);
typedef void (*ScriptSetReadBackFn)(uint32_t address, uint32_t value);
typedef void (*ScriptSetAnswerFn)(uint32_t command, uint32_t index, const uint8_t* data5);
typedef void (*ScriptFailExchangeFn)(int32_t k, uint32_t status);
typedef void (*ScriptFailCommandFn)(uint32_t command, int32_t key, uint32_t status);
typedef void (*ScriptSetValueFn)(uint32_t value);
typedef uint32_t (*ScriptLogCountFn)(void);
typedef int32_t (*ScriptLogEntryFn)(uint32_t i, struct ScriptLogEntry* entry);
typedef void (*ScriptClearLogFn)(void);

/* Entry names, all with the signatures above:
 *   Script_Reset                 empty script and log, handle 0x51, statuses 0, logging on
 *   Script_SetConfigByte         ScriptSetConfigByteFn
 *   Script_GetConfigByte         ScriptGetConfigByteFn
 *   Script_SetReadBack           ScriptSetReadBackFn
 *   Script_SetAnswer             ScriptSetAnswerFn
 *   Script_FailExchange          ScriptFailExchangeFn (k counts the Sends since the last
 *                                Script_Reset or Script_ClearLog, 1-based)
 *   Script_FailCommand           ScriptFailCommandFn
 *   Script_SetInitStatus         ScriptSetValueFn
 *   Script_SetSetConfigStatus    ScriptSetValueFn
 *   Script_SetHandle             ScriptSetValueFn
 *   Script_SetSendDelayMs        ScriptSetValueFn
 *   Script_SetStatusByReturn     ScriptSetValueFn (0 = through the status pointer)
 *   Script_SetLogging            ScriptSetValueFn (0 = record nothing; for benchmarks)
 *   Script_LogCount              ScriptLogCountFn
 *   Script_LogEntry              ScriptLogEntryFn (0 = filled, -1 = no such entry)
 *   Script_ClearLog              ScriptClearLogFn (also restarts the Send count and drops
 *                                the failures Script_FailExchange armed; those of
 *                                Script_FailCommand stay)
 */

#ifdef __cplusplus
}
#endif

#endif
