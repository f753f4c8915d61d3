# Copies the default data files into TARGET_DIR, never overwriting one that exists:
# an experimenter's edited setup and recorded data survive every rebuild.
file(MAKE_DIRECTORY ${TARGET_DIR})
foreach(name Setup.txt)
    if(NOT EXISTS ${TARGET_DIR}/${name})
        file(COPY ${SOURCE_DIR}/${name} DESTINATION ${TARGET_DIR})
    endif()
endforeach()
