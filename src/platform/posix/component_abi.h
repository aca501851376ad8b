// The entries a component library exports on Linux, where there is no COM. The component
// registry (an INI file) names the library for each component name; the agent loads it
// and resolves these four entries. Texts cross as UTF-16 with explicit lengths.
#pragma once

#include <string>

#include <cstddef>

extern "C" {

// Makes one instance; 0 on success, with the instance in *object.
typedef int (*VemtuComponentCreate)(void** object);
// Calls own method `method` (1 or 2) with `in_len` UTF-16 units; 0 on success, with a new
// text in *out (freed by VemtuComponentFreeText) of *out_len units. On failure *out is
// left alone.
typedef int (*VemtuComponentCallText)(void* object, int method, const char16_t* in,
                                      std::size_t in_len, char16_t** out,
                                      std::size_t* out_len);
typedef void (*VemtuComponentFreeText)(char16_t* text);
typedef void (*VemtuComponentRelease)(void* object);

}  // extern "C"

namespace vemtu::platform {

constexpr const char kComponentCreateEntry[] = "vemtu_component_create";
constexpr const char kComponentCallTextEntry[] = "vemtu_component_call_text";
constexpr const char kComponentFreeTextEntry[] = "vemtu_component_free_text";
constexpr const char kComponentReleaseEntry[] = "vemtu_component_release";

// Environment variable naming the registry file; without it, the folder's own registry
// (kFolderComponentRegistry beside the running program) when there is one, else
// kDefaultComponentRegistry.
constexpr const char kComponentRegistryVariable[] = "VEMTU_COMPONENT_REGISTRY";
constexpr const char kFolderComponentRegistry[] = "components.ini";
constexpr const char kDefaultComponentRegistry[] = "/etc/vemtu/components.ini";
// The registry holds one section per component name with the library's path under this
// key; a relative path is taken from the registry file's folder.
constexpr const char kComponentLibraryKey[] = "Library";

// The registry file in force, by the rules above.
std::string ComponentRegistryPath();

}  // namespace vemtu::platform
