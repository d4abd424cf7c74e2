# Fuzzers of the information reader, the DLS reader and the style reader
# with its composer (included by CMakeLists.txt). Their seeds, and the
# style-based seeds of the segment fuzzer, are written by
# qorn_make_hardening_seeds.
qorn_add_fuzzer(midiinfo SOURCE MidiInfoFuzz.cpp LIBS qorn_fileinfo SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/smf)
qorn_add_fuzzer(dls SOURCE DlsFuzz.cpp LIBS qorn_formats)
qorn_add_fuzzer(style SOURCE StyleFuzz.cpp LIBS qorn_composer qorn_formats)
qorn_add_fuzzer(chordmap SOURCE ChordmapFuzz.cpp LIBS qorn_composer qorn_formats)
add_executable(qorn_make_hardening_seeds MakeHardeningSeeds.cpp)
target_link_libraries(qorn_make_hardening_seeds PRIVATE qorn_formats qorn_test_writers)
# A wave file as a piece (the loader's probe, the wave decoder, the wave
# voices), and a collection's conversion into the synthesizer's instruments
# and into a SoundFont file (seeded with the DLS corpus as well).
qorn_add_fuzzer(wave SOURCE WaveFuzz.cpp LIBS qorn_loader qorn_waves qorn_formats)
qorn_add_fuzzer(dlsfont SOURCE DlsFontFuzz.cpp LIBS qorn_instruments qorn_formats SEEDS
                ${CMAKE_CURRENT_SOURCE_DIR}/corpus/dls)
# It drives FluidSynth itself too (the platform loads it at run time).
target_link_libraries(fuzz_dlsfont PRIVATE PkgConfig::FLUIDSYNTH)
