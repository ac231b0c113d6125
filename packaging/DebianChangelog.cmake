# Run by CPack after it has installed the package's files (CPACK_PRE_BUILD_SCRIPTS): writes the changelog with
# the version being packaged, which is known only now (scripts/package.sh passes it with cpack -R).
string(TIMESTAMP VELMORA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
# The components are staged in a folder of their own.
set(doc "")
foreach(root "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_DIRECTORY}/ALL_COMPONENTS_IN_ONE")
    if(IS_DIRECTORY "${root}/usr/share/doc/velmora")
        set(doc "${root}/usr/share/doc/velmora")
    endif()
endforeach()
if(NOT doc)
    message(FATAL_ERROR "no usr/share/doc/velmora in the staged package ${CPACK_TEMPORARY_DIRECTORY}")
endif()
configure_file("${CPACK_VELMORA_SOURCE_DIR}/packaging/debian/changelog.in" "${doc}/changelog" @ONLY)
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "could not compress ${doc}/changelog")
endif()
