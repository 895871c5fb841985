// cpp-httplib for the Vantor and its tests. Its OpenSSL headers declare a function HMAC(), which it
// never calls in its inline code; the node's frame codecs have a namespace HMAC that every Vantor
// header brings in. The function is renamed here, so include this before the Vantor's headers.
#pragma once

#define HMAC openssl_HMAC_unused
#include <httplib.h>
#undef HMAC
