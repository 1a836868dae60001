# Library boundaries, checked when the build is configured.
#
# A library keeps its internal headers private: other targets see only its
# public include folders. Code that has to drive a library's insides (tests,
# benchmarks, fuzz targets, a tool) links the library's internal target, an
# INTERFACE target that adds the private include path, and nothing else may
# name a private folder of another library.
#
#   qir_library_boundary(FOLDER dir PUBLIC dir... INTERNAL target)
#       declares a library folder (relative to the top of the tree), the
#       folders below it that other targets may put on their include path,
#       and its internal target
#   qir_check_library_boundaries(INTERNAL_USERS dir...)
#       run once after every target exists; fails the configuration when
#       - a target outside a library's folder has a non-public folder of that
#         library on its include path (as a plain path or inside a generator
#         expression), or
#       - a target outside the folders INTERNAL_USERS (e.g. tests, bench)
#         links an internal target directly, or
#       - a source of a target outside a library's folder includes a file of
#         that library by its path ("../unit_api/src/socket.h").
#       Each finding names the target, where it was defined and what it
#       reaches.

set_property(GLOBAL PROPERTY QIR_BOUNDARY_LIBRARIES "")

function(qir_library_boundary)
  cmake_parse_arguments(B "" "FOLDER;INTERNAL" "PUBLIC" ${ARGN})
  if(NOT B_FOLDER OR NOT B_INTERNAL)
    message(FATAL_ERROR "qir_library_boundary: FOLDER and INTERNAL are required")
  endif()
  set_property(GLOBAL APPEND PROPERTY QIR_BOUNDARY_LIBRARIES ${B_FOLDER})
  set_property(GLOBAL PROPERTY QIR_BOUNDARY_PUBLIC_${B_FOLDER} ${B_PUBLIC})
  set_property(GLOBAL PROPERTY QIR_BOUNDARY_INTERNAL_${B_FOLDER} ${B_INTERNAL})
endfunction()

# Every target defined in `dir` and below, into `out`.
function(_qir_boundary_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(child ${children})
    _qir_boundary_targets(${child} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# True in `out` when `path` is `root` or lies below it.
function(_qir_boundary_within path root out)
  string(LENGTH "${root}/" length)
  string(SUBSTRING "${path}/" 0 ${length} head)
  if(head STREQUAL "${root}/")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(qir_check_library_boundaries)
  cmake_parse_arguments(C "" "" "INTERNAL_USERS" ${ARGN})
  get_property(libraries GLOBAL PROPERTY QIR_BOUNDARY_LIBRARIES)
  _qir_boundary_targets(${PROJECT_SOURCE_DIR} targets)
  set(findings "")
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH where ${PROJECT_SOURCE_DIR} ${source_dir})
    set(include_dirs "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(own ${target} INCLUDE_DIRECTORIES)
      if(own)
        list(APPEND include_dirs ${own})
      endif()
    endif()
    get_target_property(offered ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(offered)
      list(APPEND include_dirs ${offered})
    endif()
    set(links "")
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      if(type STREQUAL "INTERFACE_LIBRARY" AND property STREQUAL "LINK_LIBRARIES")
        continue()
      endif()
      get_target_property(linked ${target} ${property})
      if(linked)
        list(APPEND links ${linked})
      endif()
    endforeach()

    # Sources as files on disk; generated ones do not exist yet.
    set(sources "")
    get_target_property(listed ${target} SOURCES)
    if(listed)
      foreach(source ${listed})
        if(source MATCHES "\\$<")
          continue()
        endif()
        if(NOT IS_ABSOLUTE ${source})
          set(source ${source_dir}/${source})
        endif()
        if(EXISTS ${source} AND NOT IS_DIRECTORY ${source})
          list(APPEND sources ${source})
        endif()
      endforeach()
    endif()

    set(internal_user FALSE)
    foreach(user ${C_INTERNAL_USERS})
      _qir_boundary_within(${source_dir} ${PROJECT_SOURCE_DIR}/${user} inside)
      if(inside)
        set(internal_user TRUE)
      endif()
    endforeach()

    foreach(library ${libraries})
      set(library_dir ${PROJECT_SOURCE_DIR}/${library})
      string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\1" library_pattern "${library_dir}")
      _qir_boundary_within(${source_dir} ${library_dir} own_library)
      if(own_library)
        continue()
      endif()
      get_property(public GLOBAL PROPERTY QIR_BOUNDARY_PUBLIC_${library})
      get_property(internal GLOBAL PROPERTY QIR_BOUNDARY_INTERNAL_${library})
      # Paths may sit inside generator expressions; look at every absolute
      # path in each entry.
      foreach(entry ${include_dirs})
        string(REGEX MATCHALL "${library_pattern}(/[^;>$]*)?" reached "${entry}")
        foreach(path ${reached})
          string(REGEX REPLACE "/$" "" path "${path}")
          set(allowed FALSE)
          foreach(folder ${public})
            _qir_boundary_within(${path} ${library_dir}/${folder} inside)
            if(inside)
              set(allowed TRUE)
            endif()
          endforeach()
          if(NOT allowed)
            file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${path})
            list(APPEND findings
                 "${target} (${where}/CMakeLists.txt) has ${shown}/ on its include path (link ${internal} instead)")
          endif()
        endforeach()
      endforeach()
      foreach(source ${sources})
        file(STRINGS ${source} by_path REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*/)?${library}/")
        if(by_path)
          file(RELATIVE_PATH shown ${PROJECT_SOURCE_DIR} ${source})
          list(GET by_path 0 line)
          string(STRIP "${line}" line)
          list(APPEND findings "${shown} (of ${target}) includes a file of ${library}/ by its path: ${line}")
        endif()
      endforeach()
      if(NOT internal_user)
        foreach(linked ${links})
          if(linked MATCHES "(^|[,:<])${internal}(>|$)")
            list(APPEND findings
                 "${target} (${where}/CMakeLists.txt) links ${internal}, which only ${C_INTERNAL_USERS} may link")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
  if(findings)
    list(REMOVE_DUPLICATES findings)
    list(JOIN findings "\n  " text)
    message(FATAL_ERROR "Library boundaries crossed (see docs/style.md, \"Library boundaries\"):\n  ${text}")
  endif()
endfunction()
