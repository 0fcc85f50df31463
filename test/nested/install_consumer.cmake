# cmake --install of the parent build into a temporary prefix, the installed
# tools run once, and a small program built against the installed package
# (find_package(klarvex CONFIG), klarvex::klarvex) that signs and verifies.
#
# Besides the toolchain (common.cmake): PARENT_BUILD, the build to install;
# SANITIZE_FLAGS, the sanitizer flags the installed library was built with.

include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${prefix} ${WORK_DIR}/consumer)
run_ok(inst ${CMAKE_COMMAND} --install ${PARENT_BUILD} --prefix ${prefix})

set(want bin/klarvex bin/klarvex-verify bin/klarvex-keygen
    share/man/man1/klarvex.1 share/man/man1/klarvex-verify.1 share/man/man1/klarvex-keygen.1)
foreach(h nn secp128r2 ecc ecdsa sha1)
    list(APPEND want include/klarvex/${h}.h)
endforeach()
foreach(f ${want})
    if(NOT EXISTS ${prefix}/${f})
        fail("not installed: ${f}" "${inst_out}")
    endif()
endforeach()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(SORT installed)
foreach(f ${installed})
    if(NOT f MATCHES "^(bin/klarvex(-verify|-keygen)?|include/klarvex/[a-z0-9]+\\.h|share/man/man1/.*\\.1|lib[^/]*/libklarvex\\.a|lib[^/]*/cmake/klarvex/klarvex[A-Za-z-]*\\.cmake)$")
        fail("installed, but not meant to be: ${f}" "${installed}")
    endif()
endforeach()
list(FILTER installed INCLUDE REGEX "include/klarvex/")
list(LENGTH installed headers)
if(NOT headers EQUAL 5)
    fail("the installed headers are not the library's five" "${installed}")
endif()

run_ok(sign ${prefix}/bin/klarvex 616263)
string(STRIP "${sign_out}" sig)
run_ok(v ${prefix}/bin/klarvex-verify 616263 ${sig})

nested_configure(cfg ${SOURCE_DIR}/test/consumer ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} ${SANITIZE_FLAGS}")
if(NOT cfg_out MATCHES "klarvex package: ${prefix}/")
    fail("the consumer did not find the installed package" "${cfg_out}")
endif()
run_ok(bld ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run_ok(use ${WORK_DIR}/consumer/consumer)
show("consumer" "${use_out}")
