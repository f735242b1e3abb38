# Client libraries of the server engines for the test harness, and the
# driver modules the tests need built.  Included at the end of
# tests/CMakeLists.txt.  An engine whose client library is missing is simply
# not offered to the tests.
find_package(PostgreSQL QUIET)
if(PostgreSQL_FOUND)
  target_link_libraries(vltest_harness PUBLIC PostgreSQL::PostgreSQL)
  target_compile_definitions(vltest_harness PRIVATE VT_HAVE_LIBPQ)
endif()
find_path(VT_MARIADB_INCLUDE_DIR mysql.h PATH_SUFFIXES mariadb)
find_library(VT_MARIADB_LIBRARY NAMES mariadb)
if(VT_MARIADB_INCLUDE_DIR AND VT_MARIADB_LIBRARY)
  target_include_directories(vltest_harness PRIVATE ${VT_MARIADB_INCLUDE_DIR})
  target_link_libraries(vltest_harness PUBLIC ${VT_MARIADB_LIBRARY})
  target_compile_definitions(vltest_harness PRIVATE VT_HAVE_LIBMARIADB)
endif()
foreach(engine pgsql mysql odbc)
  if(TARGET ${engine}_driver)
    add_dependencies(unit_tests ${engine}_driver)
    add_dependencies(e2e_tests ${engine}_driver)
  endif()
endforeach()
