#include "query/ReceiveErrorText.h"

#include "platform/Net.h"

const char* ReceiveErrorText(int code)
{
    switch (code) {
    case WsaError::Access: return "(Permission denied)";
    case WsaError::MessageSize: return "(Message too long)";
    case WsaError::AddressInUse: return "(Address already in use)";
    case WsaError::NetDown: return "(Network is down)";
    case WsaError::NetUnreachable: return "(Network is unreachable)";
    case WsaError::ConnectionReset: return "(Connection reset by peer)";
    case WsaError::ConnectionRefused: return "(Connection refused)";
    default: return "";
    }
}
