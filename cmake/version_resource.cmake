# corvane_version_resource(TARGET DESCRIPTION [FILE_NAME]): gives a Windows DLL or program the
# version resource that Explorer shows in its file properties: DESCRIPTION, the product name and
# version from project(), the copyright line of LICENSE and the name the file is built as
# (FILE_NAME for a target that builds no file of its own).
function(corvane_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(resource_file_type VFT_DLL)
  else()
    set(resource_file_type VFT_APP)
  endif()
  if(ARGC GREATER 2)
    set(resource_file_name "${ARGV2}")
  else()
    set(resource_file_name "$<TARGET_FILE_NAME:${target}>")
  endif()
  set(resource_description "${description}")
  set(resource_internal_name "${target}")
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE resource_copyright REGEX "^Copyright " LIMIT_COUNT 1)

  set(stem ${CMAKE_BINARY_DIR}/generated/${target}_version)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${stem}.rc.in @ONLY)
  file(GENERATE OUTPUT ${stem}.rc INPUT ${stem}.rc.in)
  target_sources(${target} PRIVATE ${stem}.rc)
endfunction()
