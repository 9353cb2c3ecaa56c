// Table names on the target and names quoted for the target's scripts.
#pragma once

#include <string>
#include <string_view>

namespace engine {

// The name an Access table gets on the target: the trimmed name when it holds no blank,
// otherwise the untrimmed name with its first blank replaced by "_".
std::string TargetNameOf(std::string_view name);

// The name between double quotes, an embedded double quote doubled. A name with a control
// character (a line break would split the statement) is refused with a platform::Error.
std::string QuoteName(std::string_view name);

}  // namespace engine
