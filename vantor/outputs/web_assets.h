// The dashboard's pages (vantor/outputs/web/), built into the program: no file or network is needed to
// serve them. The sources are generated at build time (cmake/embed_web.cmake).
#pragma once

#include <string_view>

namespace vantor {

struct WebAsset {
  std::string_view name;  // e.g. "app.js"
  std::string_view type;  // its media type
  std::string_view body;
};

const WebAsset* findWebAsset(std::string_view name);

}  // namespace vantor
