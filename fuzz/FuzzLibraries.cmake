include_guard(GLOBAL)
# The fuzz targets' entry functions and their seeds, as libraries that both the fuzzers (fuzz/) and
# the test replaying the fuzzers' findings (tests/fuzz/) link. The seeds are written with the tests'
# movie and WAVE writers; the movies are the damage tests' own.
set(VANTREL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(vantrel_fuzz_entries STATIC
    ${VANTREL_FUZZ_DIR}/FuzzTargets.h
    ${VANTREL_FUZZ_DIR}/FuzzSupport.cpp
    ${VANTREL_FUZZ_DIR}/SwfReaderFuzz.cpp
    ${VANTREL_FUZZ_DIR}/SwfPlayerFuzz.cpp
    ${VANTREL_FUZZ_DIR}/WaveEditFuzz.cpp
    ${VANTREL_FUZZ_DIR}/AviWriterFuzz.cpp
    ${VANTREL_FUZZ_DIR}/EncoderProgressFuzz.cpp
    ${VANTREL_FUZZ_DIR}/Seeds.cpp
    ${PROJECT_SOURCE_DIR}/tests/flash/SwfWriter.cpp
    ${PROJECT_SOURCE_DIR}/tests/flash/AbcWriter.cpp
    ${PROJECT_SOURCE_DIR}/tests/flash/FuzzMovies.cpp
    ${PROJECT_SOURCE_DIR}/tests/flash/ScriptAssembler.cpp
    ${PROJECT_SOURCE_DIR}/tests/flash/VideoEncoder.cpp
    ${PROJECT_SOURCE_DIR}/tests/audio/WaveFixtures.cpp
)
target_include_directories(vantrel_fuzz_entries PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/flash ${PROJECT_SOURCE_DIR}/tests/audio)
target_link_libraries(vantrel_fuzz_entries
    PUBLIC vantrel_app vantrel_flash vantrel_audio vantrel_platform Qt6::Gui
    PRIVATE ZLIB::ZLIB PkgConfig::LZMA PkgConfig::AVCODEC PkgConfig::AVUTIL)
