// Data files embedded into the library at build time (the settings form,
// the help package), looked up by name ignoring letter case.
#pragma once

#include <string_view>

namespace fr {

struct TEmbeddedResource {
    const char* Name;
    std::string_view Data;
};

// The generated table, ended by an entry with a null name.
extern const TEmbeddedResource kEmbeddedResources[];

// The bytes of the named resource, or null when the library has none.
const std::string_view* FindResource(std::string_view AName);

}  // namespace fr
