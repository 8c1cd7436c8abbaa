# Finds libyaml the way Debian ships it (libyaml-dev): through pkg-config's
# yaml-0.1 where pkg-config is there, else by its header and library.
# Defines LibYAML_FOUND and the imported target LibYAML::LibYAML.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(PC_LIBYAML QUIET yaml-0.1)
endif()
find_path(LibYAML_INCLUDE_DIR yaml.h HINTS ${PC_LIBYAML_INCLUDE_DIRS})
find_library(LibYAML_LIBRARY NAMES yaml HINTS ${PC_LIBYAML_LIBRARY_DIRS})
mark_as_advanced(LibYAML_INCLUDE_DIR LibYAML_LIBRARY)

include(FindPackageHandleStandardArgs)
if(PC_LIBYAML_VERSION)
    set(LibYAML_VERSION "${PC_LIBYAML_VERSION}")
endif()
find_package_handle_standard_args(LibYAML
    REQUIRED_VARS LibYAML_LIBRARY LibYAML_INCLUDE_DIR
    VERSION_VAR LibYAML_VERSION)

if(LibYAML_FOUND AND NOT TARGET LibYAML::LibYAML)
    add_library(LibYAML::LibYAML UNKNOWN IMPORTED)
    set_target_properties(LibYAML::LibYAML PROPERTIES
        IMPORTED_LOCATION "${LibYAML_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${LibYAML_INCLUDE_DIR}")
endif()
