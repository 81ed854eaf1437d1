#pragma once
// Base64 lives in mime/; the names here keep the SMTP client's spelling.

#include "mime/Base64.h"

namespace net {

using mime::base64Encode;
using mime::kBase64LineBytes;

} // namespace net
