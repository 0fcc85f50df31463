# A build of klarvex with a key of its own, end to end.
#
# klarvex-keygen writes a fresh key file. A build given a malformed key file,
# and one given a key whose Q is not d*G, must both fail and say why. The
# build with the fresh key must sign so that its own klarvex-verify (built-in
# key), the parent's klarvex-verify given the public key, and OpenSSL accept
# the signature, and the parent's demonstration key does not. Installed,
# klarvex, which holds the private key, has mode 0711 and klarvex-verify 0755.
#
# Besides the toolchain (common.cmake): KEYGEN and VERIFY, the parent's
# tools; ORACLE, klarvex_openssl_verify, or empty without libcrypto; SANITIZE
# and WERROR, the parent's settings.

include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

set(keys ${WORK_DIR}/keys)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${keys})
file(MAKE_DIRECTORY ${keys})

run_ok(gen ${KEYGEN} ${keys}/fresh.key)
show("klarvex-keygen fresh.key" "${gen_out}")
string(STRIP "${gen_out}" pub)
string(LENGTH "${pub}" pub_len)
if(NOT pub MATCHES "^[0-9a-f]+$" OR NOT pub_len EQUAL 64)
    fail("klarvex-keygen printed no public key" "${gen_out}")
endif()
file(READ ${keys}/fresh.key fresh)
show("cat fresh.key" "${fresh}")

# The private key of fresh.key with the public key of another key pair, and
# fresh.key with one digit of d missing.
run_ok(gen2 ${KEYGEN} ${keys}/other.key)
file(READ ${keys}/other.key other)
string(REGEX MATCH "d:   [0-9a-f]+\n" d_line "${fresh}")
string(REGEX REPLACE "d:   [0-9a-f]+\n" "${d_line}" mismatched_text "${other}")
file(WRITE ${keys}/mismatched.key "${mismatched_text}")
string(REGEX REPLACE "d:   ([0-9a-f]+)[0-9a-f]\n" "d:   \\1\n" malformed_text "${fresh}")
file(WRITE ${keys}/malformed.key "${malformed_text}")

set(options -DKLARVEX_BUILD_TESTS=OFF -DKLARVEX_SANITIZE=${SANITIZE} -DKLARVEX_WERROR=${WERROR})
foreach(bad malformed mismatched)
    if(bad STREQUAL "malformed")
        set(want "key file [^\n]*malformed.key: line 3: d must be 32 hexadecimal digits")
    else()
        set(want "key file [^\n]*mismatched.key: Q is not d\\*G")
    endif()
    nested_configure(cfg ${SOURCE_DIR} ${build} ${options} -DKLARVEX_KEY_FILE=${keys}/${bad}.key)
    run(bld ${CMAKE_COMMAND} --build ${build} --target klarvex klarvex-verify -j 2)
    if(bld_rc EQUAL 0 OR NOT bld_out MATCHES "${want}")
        fail("the build with ${bad}.key did not fail with \"${want}\"" "${bld_out}")
    endif()
    string(REGEX MATCH "klarvex-keycheck: error: [^\n]*" refusal "${bld_out}")
    show("cmake --build (KLARVEX_KEY_FILE=${bad}.key)" "refused: ${refusal}")
endforeach()

nested_configure(cfg ${SOURCE_DIR} ${build} ${options} -DKLARVEX_KEY_FILE=${keys}/fresh.key)
if(NOT cfg_out MATCHES "signing key from [^\n]*fresh.key")
    fail("configure did not name the key file" "${cfg_out}")
endif()
run_ok(bld ${CMAKE_COMMAND} --build ${build} --target klarvex klarvex-verify -j 2)
show("cmake --build (KLARVEX_KEY_FILE=fresh.key)" "built")

set(msg 48656c6c6f2c206672657368206b657921)
run_ok(sign ${build}/klarvex ${msg})
show("klarvex ${msg}" "${sign_out}")
string(STRIP "${sign_out}" sig)

run_ok(v ${build}/klarvex-verify ${msg} ${sig})
show("klarvex-verify ${msg} ${sig}" "${v_out}")
run_ok(v ${VERIFY} ${msg} ${sig} ${pub})
show("klarvex-verify ${msg} ${sig} ${pub}  (parent build)" "${v_out}")
if(NOT v_out STREQUAL "valid\n")
    fail("klarvex-verify printed no verdict" "${v_out}")
endif()
run(v ${VERIFY} ${msg} ${sig})
show("klarvex-verify ${msg} ${sig}  (parent build, demonstration key)"
     "${v_out}(status ${v_rc})")
if(NOT v_rc EQUAL 1)
    fail("the demonstration key accepted a signature of the fresh key" "${v_out}")
endif()
run(v ${build}/klarvex-verify ${msg}00 ${sig})
if(NOT v_rc EQUAL 1)
    fail("klarvex-verify accepted a changed message" "${v_out}")
endif()

run_ok(bld ${CMAKE_COMMAND} --build ${build} -j 2)
run_ok(inst ${CMAKE_COMMAND} --install ${build} --prefix ${WORK_DIR}/prefix)
run_ok(modes stat -c "%a %n" ${WORK_DIR}/prefix/bin/klarvex ${WORK_DIR}/prefix/bin/klarvex-verify)
show("cmake --install && stat -c '%a %n' bin/klarvex bin/klarvex-verify" "${modes_out}")
if(NOT modes_out MATCHES "^711 [^\n]*/klarvex\n755 [^\n]*/klarvex-verify\n$")
    fail("klarvex is not installed with mode 0711, klarvex-verify with 0755" "${modes_out}")
endif()

if(ORACLE)
    run_ok(o ${ORACLE} ${pub} ${msg} ${sig})
    show("klarvex_openssl_verify ${pub} ${msg} ${sig}" "${o_out}")
else()
    message("OpenSSL cross-check skipped: libcrypto was not found when the build was configured")
endif()
