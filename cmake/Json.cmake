# The JSON library (headers only): nlohmann_json::nlohmann_json.
#
# A cross build cannot take the host's package as it is: its include
# directory is the host's /usr/include, whose C library headers must never
# reach the target's compiler. It sees the library's headers through a
# directory of the build that holds nothing else.
if(TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  find_path(QEL_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(qel_json_include ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${qel_json_include})
  file(CREATE_LINK ${QEL_JSON_HEADERS}/nlohmann ${qel_json_include}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${qel_json_include})
else()
  find_package(nlohmann_json 3 REQUIRED)
endif()
