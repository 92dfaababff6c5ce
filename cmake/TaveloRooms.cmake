# The rooms' borders, kept by the build. Each room is a target of its own, and a target sees
# no header of the repository but those of the rooms it links: the source tree's root is on
# no include path. A room's headers are reached through a folder of links in the build
# folder, rooms/<target>/<room>/<header>, one link per header the room's list names, so an
# include across a border the room's README forbids names a file the compiler cannot find.
#
#   tavelo_room(<target> ROOM <dir> [EXECUTABLE] SOURCES <files relative to <dir>>...)
#       The room's library (or program). Its own headers are public: whoever links it may
#       include them as "<dir>/<header>".
#   tavelo_face(<target> ROOM <dir> OF <room target> HEADERS <headers>...)
#       A narrower view of a room: only the headers named (and the room's headers they
#       include, which the compiler must find too), with the room's code linked behind it.
#   tavelo_source_sees(<static library> <source> <targets>...)
#       One source file of <target> (relative to the project) may include the headers of
#       <targets>, which the rest of <target> may not; their code is linked to <target>.

set(TAVELO_ROOMS_DIR ${PROJECT_BINARY_DIR}/rooms)

# Rebuilt at every configure, so a header dropped from a list stops being reachable.
function(_tavelo_expose folder room)
    file(REMOVE_RECURSE ${folder})
    file(MAKE_DIRECTORY ${folder})
    foreach(header ${ARGN})
        set(link ${folder}/${room}/${header})
        get_filename_component(linkDir ${link} DIRECTORY)
        file(MAKE_DIRECTORY ${linkDir})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room}/${header} ${link} SYMBOLIC)
    endforeach()
endfunction()

function(tavelo_room target)
    cmake_parse_arguments(PARSE_ARGV 1 ROOM "EXECUTABLE" "ROOM" "SOURCES")
    if(NOT ROOM_ROOM OR NOT ROOM_SOURCES)
        message(FATAL_ERROR "tavelo_room(${target}): ROOM and SOURCES are needed")
    endif()
    set(paths)
    set(headers)
    foreach(source ${ROOM_SOURCES})
        list(APPEND paths ${PROJECT_SOURCE_DIR}/${ROOM_ROOM}/${source})
        if(source MATCHES "\\.h$")
            list(APPEND headers ${source})
        endif()
    endforeach()
    if(ROOM_EXECUTABLE)
        add_executable(${target} ${paths})
        # The programs sit at the top of the build folder, where the README and the tests
        # look for them.
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
    else()
        add_library(${target} STATIC ${paths})
        _tavelo_expose(${TAVELO_ROOMS_DIR}/${target} ${ROOM_ROOM} ${headers})
        target_include_directories(${target} PUBLIC ${TAVELO_ROOMS_DIR}/${target})
    endif()
    set_target_properties(${target} PROPERTIES TAVELO_ROOM ${ROOM_ROOM})
endfunction()

# The headers of <room> that <header> includes, and theirs, into <out>.
function(_tavelo_header_closure out room)
    set(seen)
    set(queue ${ARGN})
    while(queue)
        list(POP_FRONT queue header)
        if(header IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${header})
        file(STRINGS ${PROJECT_SOURCE_DIR}/${room}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"${room}/")
        foreach(line ${lines})
            string(REGEX REPLACE "^[^\"]*\"${room}/([^\"]+)\".*$" "\\1" included "${line}")
            list(APPEND queue ${included})
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(tavelo_face target)
    cmake_parse_arguments(PARSE_ARGV 1 FACE "" "ROOM;OF" "HEADERS")
    if(NOT FACE_ROOM OR NOT FACE_OF OR NOT FACE_HEADERS)
        message(FATAL_ERROR "tavelo_face(${target}): ROOM, OF and HEADERS are needed")
    endif()
    _tavelo_header_closure(headers ${FACE_ROOM} ${FACE_HEADERS})
    _tavelo_expose(${TAVELO_ROOMS_DIR}/${target} ${FACE_ROOM} ${headers})
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${TAVELO_ROOMS_DIR}/${target})
    # The room's code, without its own include folders: only the face's headers show.
    target_link_libraries(${target} INTERFACE $<LINK_ONLY:${FACE_OF}>)
endfunction()

function(tavelo_source_sees target source)
    set(folders)
    foreach(seen ${ARGN})
        # Into the link interface only: a static library links nothing itself, and a
        # private link would lend every source of <target> the include folders.
        target_link_libraries(${target} INTERFACE $<LINK_ONLY:${seen}>)
        list(APPEND folders ${TAVELO_ROOMS_DIR}/${seen})
    endforeach()
    set_property(SOURCE ${PROJECT_SOURCE_DIR}/${source} TARGET_DIRECTORY ${target}
        APPEND PROPERTY INCLUDE_DIRECTORIES ${folders})
endfunction()

# Links <target> to the room of every repository header its <sources> include, each room
# whole: tests and benchmarks may reach anything, and each links only the rooms it uses. Headers
# of their own ("GuiTestSupport.h", "support/PgTestServer.h") are followed, beside the source or
# under tests/.
set(TAVELO_ROOM_TARGETS
    "platform/gui=tavelo_platform_gui"
    "platform=tavelo_platform"
    "log=tavelo_log"
    "query=tavelo_query"
    "sqlite=tavelo_sqlite"
    "postgres=tavelo_postgres"
    "attendance=tavelo_attendance"
    "interchange=tavelo_interchange"
    "controls=tavelo_controls"
    "app=tavelo_app")
function(tavelo_link_included_rooms target)
    set(rooms)
    set(seen)
    set(queue ${ARGN})
    while(queue)
        list(POP_FRONT queue source)
        if(source IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${source})
        get_filename_component(sourceDir ${source} DIRECTORY)
        file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line ${lines})
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
            set(matched FALSE)
            foreach(pair ${TAVELO_ROOM_TARGETS})
                string(REPLACE "=" ";" pair "${pair}")
                list(GET pair 0 room)
                list(GET pair 1 roomTarget)
                if(included MATCHES "^${room}/[A-Za-z0-9_]+\\.h$")
                    list(APPEND rooms ${roomTarget})
                    set(matched TRUE)
                    break()
                endif()
            endforeach()
            if(NOT matched)
                foreach(dir ${sourceDir} ${PROJECT_SOURCE_DIR}/tests)
                    if(EXISTS ${dir}/${included})
                        list(APPEND queue ${dir}/${included})
                        break()
                    endif()
                endforeach()
            endif()
        endforeach()
    endwhile()
    list(REMOVE_DUPLICATES rooms)
    if(rooms)
        target_link_libraries(${target} PRIVATE ${rooms})
    endif()
endfunction()
