#pragma once

#include <string>

namespace upnp_detail {

// Replaces `folder`/`name` with `content` in one step (a temporary file in the same folder,
// then a rename), so readers never see half a file. Any failure leaves things as they were.
bool replace_file(const std::string& folder, const std::string& name, const std::string& content);

} // namespace upnp_detail
