# Copies the default data files into TARGET_DIR, never overwriting one that exists:
# an experimenter's edited setup and recorded data survive every rebuild.
file(MAKE_DIRECTORY ${TARGET_DIR})
foreach(name Setup.txt)
    if(NOT EXISTS ${TARGET_DIR}/${name})
        file(COPY ${SOURCE_DIR}/${name} DESTINATION ${TARGET_DIR})
    endif()
endforeach()

# The database is made from its schema when there is none; one that exists holds recorded
# participants and is kept. It is built under another name and renamed when complete, so a
# failed build never leaves a half-made database that a later build would keep.
set(database ${TARGET_DIR}/Krugel.db)
if(NOT EXISTS ${database})
    if(NOT SQLITE3_EXECUTABLE)
        find_program(SQLITE3_EXECUTABLE sqlite3)
    endif()
    if(NOT SQLITE3_EXECUTABLE)
        message(FATAL_ERROR "The sqlite3 program was not found, so ${database} cannot be made "
                            "from ${SOURCE_DIR}/Krugel.sql. Install sqlite3 or make the file "
                            "with another SQLite tool.")
    endif()
    set(partial ${database}.partial)
    file(REMOVE ${partial})
    execute_process(COMMAND ${SQLITE3_EXECUTABLE} -batch -bail ${partial}
                    INPUT_FILE ${SOURCE_DIR}/Krugel.sql
                    RESULT_VARIABLE result
                    ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        file(REMOVE ${partial})
        message(FATAL_ERROR "Making ${database} from ${SOURCE_DIR}/Krugel.sql failed: "
                            "${result} ${errors}")
    endif()
    file(RENAME ${partial} ${database})
    message(STATUS "Made ${database}")
endif()
