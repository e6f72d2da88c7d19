# The fuzz targets and the libraries each one links, shared by the libFuzzer
# build (fuzz/CMakeLists.txt) and the corpus replay tests (tests/fuzz/).
# Each <name> has fuzz/<name>_fuzz.cpp and its seed corpus fuzz/corpus/<name>/.
set(MW_FUZZ_TARGETS request_fields template_producer config_files codepage dbase_tables)
set(MW_FUZZ_DEPS_request_fields mw_cgi)
set(MW_FUZZ_DEPS_template_producer mw_template)
set(MW_FUZZ_DEPS_config_files mw_config)
set(MW_FUZZ_DEPS_codepage mw_platform mw_dbase)
set(MW_FUZZ_DEPS_dbase_tables mw_dbase)
