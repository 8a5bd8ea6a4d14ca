# meshdrop_add_version_resource(<target>
#     [VERSION <a.b.c.d>]            default: the project's version
#     [FILE_DESCRIPTION <text>]      default: <target>
#     [ORIGINAL_FILENAME <name>]     default: the target's output file name
#     [PRODUCT_NAME <text>]          default: "Brightholm DownLoader"
#     [STRINGS <Name=Value>...])     further string values
#
# Gives a program a version resource made at build time: a VS_VERSIONINFO
# block (fixed file information from VERSION, one string table for Chinese
# (Taiwan) in Unicode, 040404B0, with FileVersion and ProductVersion equal to
# VERSION, and its 4-byte translation) compiled into the section
# ".vs_version_info" of the program. The platform layer's
# GetFileVersionInfoA/VerQueryValueA read it there as they read a Windows
# program's resource, so the program answers "\StringFileInfo\040404B0\FileVersion"
# with VERSION. Example, for the engine program:
#
#     meshdrop_add_version_resource(QLSDownloadV32 FILE_DESCRIPTION "Download engine")
#
# The writer is the host program tools/version_resource.
function(meshdrop_add_version_resource target)
  cmake_parse_arguments(V "" "VERSION;FILE_DESCRIPTION;ORIGINAL_FILENAME;PRODUCT_NAME" "STRINGS" ${ARGN})
  if(NOT V_VERSION)
    set(V_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT V_FILE_DESCRIPTION)
    set(V_FILE_DESCRIPTION ${target})
  endif()
  if(NOT V_ORIGINAL_FILENAME)
    set(V_ORIGINAL_FILENAME "$<TARGET_FILE_NAME:${target}>")
  endif()
  if(NOT V_PRODUCT_NAME)
    set(V_PRODUCT_NAME "Brightholm DownLoader")
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_resource.c)
  add_custom_command(OUTPUT ${source}
    COMMAND meshdrop_version_resource ${source} ${V_VERSION}
      "CompanyName=Orvane Inc."
      "FileDescription=${V_FILE_DESCRIPTION}"
      "InternalName=${target}"
      "OriginalFilename=${V_ORIGINAL_FILENAME}"
      "ProductName=${V_PRODUCT_NAME}"
      ${V_STRINGS}
    DEPENDS meshdrop_version_resource
    COMMENT "Version resource ${V_VERSION} of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${source})
  set_source_files_properties(${source} PROPERTIES GENERATED TRUE)
endfunction()
