# cmake --install of a klarvex build into a temporary prefix, the tree then
# moved elsewhere, the installed tools run once, and test/consumer (signs and
# verifies) built against the moved tree through the CMake package
# (find_package(klarvex CONFIG)) and through pkg-config. SHARED on: the
# project is built with BUILD_SHARED_LIBS=ON first, the library must export
# exactly the functions its headers declare, and both programs must load it
# by its SONAME.
#
# Besides the toolchain (common.cmake): PARENT_BUILD, the build to install
# when SHARED is off; VERSION and LIBDIR, the project's version and library
# directory; SANITIZE, WERROR and SANITIZE_FLAGS, the parent's settings.

include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(prefix ${WORK_DIR}/prefix)
set(moved ${WORK_DIR}/moved)
file(REMOVE_RECURSE ${prefix} ${moved} ${WORK_DIR}/consumer)
string(REGEX MATCH "^[0-9]+" major ${VERSION})
set(build ${PARENT_BUILD})
set(libs ${LIBDIR}/libklarvex.a)
if(SHARED)
    set(build ${WORK_DIR}/build)
    nested_configure(cfg ${SOURCE_DIR} ${build} -DBUILD_SHARED_LIBS=ON -DKLARVEX_BUILD_TESTS=OFF
        -DKLARVEX_SANITIZE=${SANITIZE} -DKLARVEX_WERROR=${WERROR})
    run_ok(bld ${CMAKE_COMMAND} --build ${build})
    set(libs ${LIBDIR}/libklarvex.so ${LIBDIR}/libklarvex.so.${major}
        ${LIBDIR}/libklarvex.so.${VERSION})
endif()
run_ok(inst ${CMAKE_COMMAND} --install ${build} --prefix ${prefix})

set(want bin/klarvex bin/klarvex-verify bin/klarvex-keygen ${libs} ${LIBDIR}/pkgconfig/klarvex.pc
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
    if(NOT f MATCHES "^(bin/klarvex(-verify|-keygen)?|include/klarvex/[a-z0-9]+\\.h|share/man/man1/.*\\.1|${LIBDIR}/(libklarvex\\.(a|so[.0-9]*)|pkgconfig/klarvex\\.pc|cmake/klarvex/klarvex[A-Za-z-]*\\.cmake))$")
        fail("installed, but not meant to be: ${f}" "${installed}")
    endif()
endforeach()
list(FILTER installed INCLUDE REGEX "include/klarvex/")
list(LENGTH installed headers)
if(NOT headers EQUAL 5)
    fail("the installed headers are not the library's five" "${installed}")
endif()

if(SHARED)
    set(declared "")
    foreach(h ${installed})
        file(STRINGS ${prefix}/${h} lines REGEX "^[A-Za-z_][^(]*[ *&][A-Za-z_][A-Za-z0-9_]*\\(")
        list(FILTER lines EXCLUDE REGEX "^(inline|static|constexpr) ")
        list(TRANSFORM lines REPLACE "^[^(]*[ *&]([A-Za-z_][A-Za-z0-9_]*)\\(.*" "klarvex::\\1")
        list(APPEND declared ${lines})
    endforeach()
    run_ok(nm nm -D --defined-only -C ${prefix}/${LIBDIR}/libklarvex.so.${VERSION})
    string(REGEX MATCHALL "\n[0-9a-f]+ [A-Za-z] [^ (\n]+" exported "\n${nm_out}")
    list(TRANSFORM exported REPLACE "^.* " "")
    list(SORT declared)
    list(SORT exported)
    if(NOT declared OR NOT exported STREQUAL declared)
        fail("libklarvex.so does not export exactly the functions of its headers:
  declared: ${declared}\n  exported: ${exported}" "${nm_out}")
    endif()
endif()

file(RENAME ${prefix} ${moved})
run_ok(sign ${moved}/bin/klarvex 616263)
string(STRIP "${sign_out}" sig)
run_ok(v ${moved}/bin/klarvex-verify 616263 ${sig})

nested_configure(cfg ${SOURCE_DIR}/test/consumer ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${moved} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS} ${SANITIZE_FLAGS}")
if(NOT cfg_out MATCHES "klarvex package: ${moved}/")
    fail("the consumer did not find the installed package" "${cfg_out}")
endif()
run_ok(bld ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)

run_ok(pc ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${moved}/${LIBDIR}/pkgconfig
    pkg-config --cflags --libs klarvex)
show("pkg-config --cflags --libs klarvex" "${pc_out}")
separate_arguments(pc_flags UNIX_COMMAND "${pc_out}")
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS} ${SANITIZE_FLAGS}")
run_ok(cc ${CXX} ${cxx_flags} -std=c++17 ${SOURCE_DIR}/test/consumer/consumer.cpp ${pc_flags}
    -Wl,-rpath,${moved}/${LIBDIR} -o ${WORK_DIR}/consumer/consumer-pc)

foreach(program consumer consumer-pc)
    run_ok(use ${WORK_DIR}/consumer/${program})
    show("${program}" "${use_out}")
    run_ok(elf readelf -d ${WORK_DIR}/consumer/${program})
    if(SHARED AND NOT elf_out MATCHES "Shared library: \\[libklarvex\\.so\\.${major}\\]")
        fail("${program} does not load libklarvex.so.${major}" "${elf_out}")
    endif()
endforeach()
