# Every library takes all sources below its folder, so new classes need no
# edit of a CMakeLists.txt: one .h/.cpp pair per class, dropped into place.
function(vessarine_collect_sources out_var)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS
       ${ARGN})
  set(${out_var} ${found} PARENT_SCOPE)
endfunction()
