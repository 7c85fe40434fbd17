// Names of the result codes, indexed by code + 31.
#include "orvex/ResultCode.h"

namespace orvex {

namespace {

constexpr int32_t kFirstCode = EN_MIN;
constexpr int32_t kLastCode = TO_PAY;

constexpr const char* kCodeNames[] = {
    "EN_MIN",
    "EN_FORBIDDEN",
    "EN_TokenErr",
    "EN_SQLITE_STEP_CORRUPT",
    "EN_CTP_V63",
    "EN_QUERY_LIMIT",
    "FRONT_DISCONNECTED_NOT_RECONNECT",
    "FRONT_NOT_CONNECT",
    "TIMEOUT",
    "EN_NEED_MOTIFY_PASSWORK",
    "EN_RSPUSERLOGIN_NONFATAL",
    "DUPLICATE_LOGIN",
    "EN_SQLITE_PREPARE_FAIL",
    "EN_SQLITEAPI_DBSESSION_NOT_EXIST",
    "RSPUSERPASSWORDUPDATE",
    "ON_CONNECTED",
    "SYNC_DATA_NOT_READY",
    "RSPAUTHENTICATE",
    "DISCONNECT_TIMEOUT",
    "RSPUSERLOGOUT",
    "RSPUSERLOGIN",
    "FRONT_DISCONNECTED",
    "INVALID_FRONTADDRESS",
    "EN_FAIL_CONNECT",
    "DISCONNECTED",
    "NOT_CONNECT",
    "INVALID_ACCOUNT_OR_PASSWORD",
    "INVALID_PASSWORD",
    "INVALID_ACCOUNT",
    "INVALID_PARAM",
    "UNKNOWN",
    "OK",
    "SUBSCRIBE_ERROR",
    "UNSUBSCRIBE_ERROR",
    "GET_ALL_CODEPROPERTIES_ERROR",
    "GET_MARKETDATA_ERROR",
    "GET_EXCH_MARKETDATA_ERROR",
    "UPDATE_QUOTE_ERROR",
    "REQ_KLINESBYRANGE_ERROR",
    "REQ_TICKSBYRANGE_ERROR",
    "EN_REQ_TIMESALES_ERROR",
    "REQ_DEALLISTS_ERROR",
    "QRY_TODAYKLINES_ERROR",
    "QRY_HISTORYKLINES_ERROR",
    "QRY_TODAYTICKS_ERROR",
    "QRY_HISTORYTICKS_ERROR",
    "QRY_TODAYTIMESALES_ERROR",
    "QueryHistoryTimeSalesError",
    "INVALID_KLINEITIMETYPE",
    "EN_WARNING",
    "FIELD_COPY",
    "NATIVE_ERR",
    "QRY_TRADING_ACCOUNT",
    "NOT_EXIST",
    "NOT_SUPPORT",
    "ON_MEMORYSHORT",
    "NOT_AUTH_SETTING",
    "FAIL_REGISTER_NOTIFY",
    "BAD_ALLOC",
    "UNCONNECT_MARKETTYPE",
    "FAIL_SETTLEMENT_CONFIRM",
    "EN_INITIALIZE_FAILD",
    "EN_ICE_NET_ERROR",
    "EN_MAIN_SERVICE_ERROR",
    "EN_EXIST",
    "EN_ICE_SERVER_EXCEPTION",
    "EN_NOTLOGIN",
    "BASICTIMWTYPELIST_ERROR",
    "NOT_IN_TRADINGTIME",
    "OVER_CLOSE_POSITION",
    "DC_NO_USER",
    "CLIENT_TYPE_ERROR",
    "CLIENT_INNER_ERROR",
    "NO_PERMISSION",
    "REQ_DEPTHSBYRANGE_ERROR",
    "SERIALIZE_ERROR",
    "DESERIALIZE_ERROR",
    "NOT_REACH_INTERVALTIME",
    "TIME_EXPIRED",
    "SIGNAL_IGNORE",
    "AUTO_TRADE_DISABLE",
    "DATA_QUERYING",
    "FIRST_LOGIN",
    "FLOW_CONTROL",
    "BLACK_LIST",
    "QUIT",
    "TO_PAY",
};

static_assert(sizeof(kCodeNames) / sizeof(kCodeNames[0]) == kLastCode - kFirstCode + 1,
              "one name per code");

}  // namespace

const char* codeName(int32_t code) {
  // Widened so that codes near the int32 limits cannot overflow the index.
  const int64_t index = static_cast<int64_t>(code) - kFirstCode;
  if (index < 0 || index > kLastCode - kFirstCode) {
    return kCodeNames[OK - kFirstCode];
  }
  return kCodeNames[index];
}

}  // namespace orvex
