// Published OPOS values shared by both device classes: result codes, states,
// common property indexes, power and error-response constants.
#pragma once

#include <cstdint>

namespace opos {

// Result codes.
inline constexpr int32_t OPOS_SUCCESS = 0;
inline constexpr int32_t OPOS_E_CLOSED = 101;
inline constexpr int32_t OPOS_E_CLAIMED = 102;
inline constexpr int32_t OPOS_E_NOTCLAIMED = 103;
inline constexpr int32_t OPOS_E_NOSERVICE = 104;
inline constexpr int32_t OPOS_E_DISABLED = 105;
inline constexpr int32_t OPOS_E_ILLEGAL = 106;
inline constexpr int32_t OPOS_E_NOHARDWARE = 107;
inline constexpr int32_t OPOS_E_OFFLINE = 108;
inline constexpr int32_t OPOS_E_NOEXIST = 109;
inline constexpr int32_t OPOS_E_EXISTS = 110;
inline constexpr int32_t OPOS_E_FAILURE = 111;
inline constexpr int32_t OPOS_E_TIMEOUT = 112;
inline constexpr int32_t OPOS_E_BUSY = 113;
inline constexpr int32_t OPOS_E_EXTENDED = 114;

// States.
inline constexpr int32_t OPOS_S_CLOSED = 1;
inline constexpr int32_t OPOS_S_IDLE = 2;
inline constexpr int32_t OPOS_S_BUSY = 3;
inline constexpr int32_t OPOS_S_ERROR = 4;

// Error loci and responses.
inline constexpr int32_t OPOS_EL_OUTPUT = 1;
inline constexpr int32_t OPOS_EL_INPUT = 2;
inline constexpr int32_t OPOS_EL_INPUT_DATA = 3;
inline constexpr int32_t OPOS_ER_RETRY = 11;
inline constexpr int32_t OPOS_ER_CLEAR = 12;
inline constexpr int32_t OPOS_ER_CONTINUEINPUT = 13;

// Power reporting.
inline constexpr int32_t OPOS_PR_NONE = 0;
inline constexpr int32_t OPOS_PR_STANDARD = 1;
inline constexpr int32_t OPOS_PR_ADVANCED = 2;
inline constexpr int32_t OPOS_PN_DISABLED = 0;
inline constexpr int32_t OPOS_PN_ENABLED = 1;
inline constexpr int32_t OPOS_PS_UNKNOWN = 2000;
inline constexpr int32_t OPOS_PS_ONLINE = 2001;
inline constexpr int32_t OPOS_PS_OFF = 2002;
inline constexpr int32_t OPOS_PS_OFFLINE = 2003;
inline constexpr int32_t OPOS_PS_OFF_OFFLINE = 2004;
inline constexpr int32_t OPOS_SUE_POWER_ONLINE = 2001;
inline constexpr int32_t OPOS_SUE_POWER_OFF = 2002;
inline constexpr int32_t OPOS_SUE_POWER_OFFLINE = 2003;
inline constexpr int32_t OPOS_SUE_POWER_OFF_OFFLINE = 2004;

// Health check levels.
inline constexpr int32_t OPOS_CH_INTERNAL = 1;
inline constexpr int32_t OPOS_CH_EXTERNAL = 2;
inline constexpr int32_t OPOS_CH_INTERACTIVE = 3;

// Common property indexes.
inline constexpr int32_t PIDX_NUMBER = 0;
inline constexpr int32_t PIDX_STRING = 1000000;
inline constexpr int32_t PIDX_Claimed = 1;
inline constexpr int32_t PIDX_DataEventEnabled = 2;
inline constexpr int32_t PIDX_DeviceEnabled = 3;
inline constexpr int32_t PIDX_FreezeEvents = 4;
inline constexpr int32_t PIDX_OutputID = 5;
inline constexpr int32_t PIDX_ResultCode = 6;
inline constexpr int32_t PIDX_ResultCodeExtended = 7;
inline constexpr int32_t PIDX_ServiceObjectVersion = 8;
inline constexpr int32_t PIDX_State = 9;
inline constexpr int32_t PIDX_AutoDisable = 10;
inline constexpr int32_t PIDX_BinaryConversion = 11;
inline constexpr int32_t PIDX_DataCount = 12;
inline constexpr int32_t PIDX_PowerNotify = 13;
inline constexpr int32_t PIDX_PowerState = 14;
inline constexpr int32_t PIDX_CapPowerReporting = 501;
inline constexpr int32_t PIDX_CheckHealthText = 1000001;
inline constexpr int32_t PIDX_DeviceDescription = 1000002;
inline constexpr int32_t PIDX_DeviceName = 1000003;
inline constexpr int32_t PIDX_ServiceObjectDescription = 1000004;
// Our own extension, above every index OPOS assigns: why the last port open or
// write failed (path and reason), "" when none did.
inline constexpr int32_t PIDXx_LastErrorDetail = 1900001;

// Binary conversion.
inline constexpr int32_t OPOS_BC_NONE = 0;
inline constexpr int32_t OPOS_BC_NIBBLE = 1;
inline constexpr int32_t OPOS_BC_DECIMAL = 2;

// Cash drawer property indexes.
inline constexpr int32_t PIDXCash_DrawerOpened = 1001;
inline constexpr int32_t PIDXCash_CapStatus = 1501;
inline constexpr int32_t CASH_SUE_DRAWERCLOSED = 0;
inline constexpr int32_t CASH_SUE_DRAWEROPEN = 1;

// Kinds of CSOEvent.
inline constexpr int32_t SOE_DIRECTIO = 2;
inline constexpr int32_t SOE_ERROR = 3;
inline constexpr int32_t SOE_OUTPUTCOMPLETE = 4;
inline constexpr int32_t SOE_STATUSUPDATE = 5;

}  // namespace opos
