// The page's files, embedded in the executable at build time from web/page/.
#pragma once
#include <string_view>

extern const std::string_view PAGE_INDEX_HTML;
extern const std::string_view PAGE_APP_CSS;
extern const std::string_view PAGE_APP_JS;
extern const std::string_view PAGE_FAVICON_SVG;
