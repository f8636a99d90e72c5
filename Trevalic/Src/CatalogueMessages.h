// The message names of the provider catalogue: the display titles of the providers.
#pragma once

#include "MessageName.h"

namespace Trevalic::Messages {
extern Zelkor::CMessageName MSG_OAUTH_TITLE_MICROSOFT;
extern Zelkor::CMessageName MSG_OAUTH_TITLE_GOOGLE;
} // namespace Trevalic::Messages
