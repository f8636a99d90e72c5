// Built with the library's own statics, after the framework's message names and before the
// redirect settings and the provider records that refer to them.
#include "CatalogueMessages.h"

#include "StartupOrder.h"

namespace Trevalic::Messages {
ZELKOR_INIT(ZELKOR_ROW_LIBRARY) Zelkor::CMessageName MSG_OAUTH_TITLE_MICROSOFT(L"MSG_OAUTH_TITLE_MICROSOFT");
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 1) Zelkor::CMessageName MSG_OAUTH_TITLE_GOOGLE(L"MSG_OAUTH_TITLE_GOOGLE");
} // namespace Trevalic::Messages
