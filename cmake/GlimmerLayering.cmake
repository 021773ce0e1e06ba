# Layering: each library names the folders and headers it exposes, and a
# target sees only what it exposes itself plus what the libraries it links
# expose. A file that includes a header of a module it may not use fails to
# compile, though every include keeps its "folder/file.h" spelling.
#
# glimmer_expose(<target> <INTERFACE|PUBLIC> <path>...) builds the include
# root build/include/<target>/ out of symbolic links to the given source
# folders or headers (paths relative to the source root), at the same
# relative place, and puts it on the target's include path.
function(glimmer_expose target scope)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(path ${ARGN})
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# The headers directly in <folder> (not its sub-folders), relative to the
# source root; a header added later re-runs the configuration.
function(glimmer_headers_in out folder)
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}
       ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  set(${out} ${headers} PARENT_SCOPE)
endfunction()
