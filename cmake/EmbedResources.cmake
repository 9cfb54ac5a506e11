# Writes OUTPUT, a C++ file holding the bytes of every file in RESOURCES
# (names separated by "|") under its name without extension (looked up
# ignoring case at run time). The bytes are pulled in by the assembler, so
# large files (the windows module) cost no generated source; each file's
# hash is written beside it, so a changed file recompiles the table.
string(REPLACE "|" ";" RESOURCES "${RESOURCES}")
set(BODY "// Generated at build time from src/resources; do not edit.\n#include \"resources/uResources.h\"\n\n")
# ELF assemblers return to the compiler's section with .previous; the PE one
# has no section stack, so the bytes go to .rdata and the code continues in
# .text (this file holds nothing writable that could land there).
string(APPEND BODY "#ifdef _WIN32\n#define FR_RESOURCE_SECTION \".section .rdata,\\\"dr\\\"\\n\"\n#define FR_RESOURCE_SECTION_END \".text\\n\"\n")
string(APPEND BODY "#else\n#define FR_RESOURCE_SECTION \".section .rodata\\n\"\n#define FR_RESOURCE_SECTION_END \".previous\\n\"\n#endif\n\n")
string(APPEND BODY "namespace fr {\nnamespace {\n")
set(TABLE "")
set(I 0)
foreach(F ${RESOURCES})
  get_filename_component(NAME ${F} NAME_WE)
  file(SIZE ${F} SIZE)
  file(SHA256 ${F} HASH)
  string(APPEND BODY "// ${NAME}: ${SIZE} bytes, sha256 ${HASH}\n")
  string(APPEND BODY "__asm__(FR_RESOURCE_SECTION \".balign 16\\nfr_resource_data${I}:\\n.incbin \\\"${F}\\\"\\n.byte 0\\n\" FR_RESOURCE_SECTION_END);\n")
  # The assembler name is given explicitly: 32-bit Windows would otherwise
  # look for the C name with a leading underscore.
  string(APPEND BODY "extern \"C\" const char fr_resource_data${I}[] __asm__(\"fr_resource_data${I}\");\n")
  string(APPEND TABLE "    {\"${NAME}\", std::string_view(fr_resource_data${I}, ${SIZE})},\n")
  math(EXPR I "${I} + 1")
endforeach()
string(APPEND BODY "}  // namespace\n\nconst TEmbeddedResource kEmbeddedResources[] = {\n${TABLE}    {nullptr, {}}};\n\n}  // namespace fr\n")
file(WRITE ${OUTPUT}.tmp "${BODY}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
