# Writes OUT, a C++ file that holds each of FILES ('|'-separated) as a char
# array in namespace NAMESPACE, with a function named after the file
# ("summary.css" -> summary_css()) that returns it as a std::string_view.
# Run as: cmake -DOUT=... -DNAMESPACE=... -DFILES=... -P embed_files.cmake
string(REPLACE "|" ";" FILES "${FILES}")
get_filename_component(folder "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
set(text "// Written by cmake/embed_files.cmake from the files it names; do not edit.\n")
string(APPEND text "#include <string_view>\n\nnamespace ${NAMESPACE} {\n")
foreach(path IN LISTS FILES)
  get_filename_component(name "${path}" NAME)
  string(MAKE_C_IDENTIFIER "${name}" id)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${hex}")
  string(APPEND text "\n// ${name}\nstatic const unsigned char ${id}_bytes[] = {${array}0x00};\n")
  string(APPEND text "std::string_view ${id}() { return {reinterpret_cast<const char*>(${id}_bytes), ${bytes}}; }\n")
endforeach()
string(APPEND text "\n}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUT}.new" "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.new" "${OUT}")
