# Each folder of src/ is one target, and its include root holds that folder alone: "settings/Profile.h" is found
# only by targets that link vellsettings, so an include against the direction of the layout fails to compile.
function(vell_include_root target folder)
    set(root "${PROJECT_BINARY_DIR}/include/${folder}")
    file(MAKE_DIRECTORY "${root}")
    file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${folder}" SYMBOLIC)
    target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${root}>")
endfunction()
