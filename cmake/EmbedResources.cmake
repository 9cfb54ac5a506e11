# Writes OUTPUT, a C++ file holding the bytes of every file in RESOURCES
# (names separated by "|") under its name without extension (looked up
# ignoring case at run time). The bytes are pulled in by the assembler, so
# large files (the windows module) cost no generated source; each file's
# hash is written beside it, so a changed file recompiles the table.
string(REPLACE "|" ";" RESOURCES "${RESOURCES}")
set(BODY "// Generated at build time from src/resources; do not edit.\n#include \"resources/uResources.h\"\n\nnamespace fr {\nnamespace {\n")
set(TABLE "")
set(I 0)
foreach(F ${RESOURCES})
  get_filename_component(NAME ${F} NAME_WE)
  file(SIZE ${F} SIZE)
  file(SHA256 ${F} HASH)
  string(APPEND BODY "// ${NAME}: ${SIZE} bytes, sha256 ${HASH}\n")
  string(APPEND BODY "__asm__(\".section .rodata\\n.balign 16\\nfr_resource_data${I}:\\n.incbin \\\"${F}\\\"\\n.byte 0\\n.previous\\n\");\n")
  string(APPEND BODY "extern \"C\" const char fr_resource_data${I}[];\n")
  string(APPEND TABLE "    {\"${NAME}\", std::string_view(fr_resource_data${I}, ${SIZE})},\n")
  math(EXPR I "${I} + 1")
endforeach()
string(APPEND BODY "}  // namespace\n\nconst TEmbeddedResource kEmbeddedResources[] = {\n${TABLE}    {nullptr, {}}};\n\n}  // namespace fr\n")
file(WRITE ${OUTPUT}.tmp "${BODY}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
