# Writes a C++ source holding every mappings/*.json file as a byte array,
# keyed by the file name without ".json" (the table identifier).
file(GLOB tables "${MAPPINGS_DIR}/*.json")
list(SORT tables)
set(body "")
set(entries "")
set(index 0)
foreach(table IN LISTS tables)
  get_filename_component(id "${table}" NAME_WE)
  file(READ "${table}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND body "static const char table_${index}[] = {${bytes} 0};\n")
  string(APPEND entries "    {\"${id}\", std::string_view(table_${index}, sizeof(table_${index}) - 1)},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from mappings/*.json at build time; do not edit.\n"
"#include <map>\n#include <string>\n#include <string_view>\n\n"
"namespace callset_converter::embedded {\n\n"
"${body}\n"
"const std::map<std::string, std::string_view>& tables() {\n"
"  static const std::map<std::string, std::string_view> all = {\n${entries}  };\n"
"  return all;\n"
"}\n\n"
"}  // namespace callset_converter::embedded\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
