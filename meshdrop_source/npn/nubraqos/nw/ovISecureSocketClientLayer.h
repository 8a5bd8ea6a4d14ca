#pragma once
// The interface of the TLS client layer (class OVCLS_TLS_LAYER): it has only
// the operations of ovIUnknown. The HTTP client layer pushes the layer at the
// bottom of a context for "https://" addresses; nothing drives it directly.

#include "ov/ovIUnknown.h"

class ovISecureSocketClientLayer : public ovIUnknown {};
