# cmake -DSOURCE=demo/workspace -DTARGET=<dir> -P MakeWorkspaceTemplate.cmake
# The workspace template: everything of the demo workspace except its tasks (the catalogue
# config/config.db3 and the task databases under data/) and the .gitkeep markers.
file(REMOVE_RECURSE "${TARGET}")
file(MAKE_DIRECTORY "${TARGET}")
file(GLOB_RECURSE _entries RELATIVE "${SOURCE}" LIST_DIRECTORIES true "${SOURCE}/*")
foreach(_rel IN LISTS _entries)
  if(_rel MATCHES "^(config/config\\.db3|data/.+)$" OR _rel MATCHES "(^|/)\\.gitkeep$")
    continue()
  endif()
  if(IS_DIRECTORY "${SOURCE}/${_rel}")
    file(MAKE_DIRECTORY "${TARGET}/${_rel}")
  else()
    get_filename_component(_dir "${TARGET}/${_rel}" DIRECTORY)
    file(COPY "${SOURCE}/${_rel}" DESTINATION "${_dir}")
  endif()
endforeach()
