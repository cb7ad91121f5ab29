# Translations: every translations/sablefold_<language>.ts is kept current from the
# controller's sources by lupdate on each build that changes a source, and compiled by
# lrelease into <build>/translations/sablefold_<language>.qm, which is installed.
#
# To start a new language, copy sablefold_en.ts to sablefold_<language>.ts (de, fr_CA,
# ...), set its language attribute, configure again and translate it with Qt Linguist.
#
# qt5_create_translation is not used: it lists the .ts file as a build output, so
# "ninja clean" would delete the committed catalogue. Here a stamp file is the output.

find_package(Qt5 5.15 QUIET COMPONENTS Core LinguistTools)
if(NOT Qt5LinguistTools_FOUND)
    message(WARNING "Qt5LinguistTools not found (package qttools5-dev): translations are not built")
    return()
endif()

include(GNUInstallDirs)
set(SABLEFOLD_INSTALL_TRANSLATIONSDIR "${CMAKE_INSTALL_DATADIR}/sablefold/translations" CACHE STRING
    "Folder, under the install prefix, of the compiled translations")
# Must match SABLEFOLD_INSTALL_PROGRAMDIR of cmake/Install.cmake.
set(sablefold_install_programdir "lib/sablefold")
if(DEFINED SABLEFOLD_INSTALL_PROGRAMDIR)
    set(sablefold_install_programdir ${SABLEFOLD_INSTALL_PROGRAMDIR})
endif()

file(GLOB sablefold_ts_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/translations/sablefold_*.ts)

# The controller's own sources and forms; the simulator, demo, tests and tools are not
# translated. lupdate reads the list from a file: the command line would be long. It
# needs the include path to find each class's header, and from it the namespace that
# tr() takes its context from (EMS::KipPort, not KipPort).
set(sablefold_translated_sources ${SABLEFOLD_SOURCES})
set(sablefold_translations_dir ${CMAKE_BINARY_DIR}/translations)
file(MAKE_DIRECTORY ${sablefold_translations_dir})
string(REPLACE ";" "\n" sablefold_source_lines "-I${CMAKE_SOURCE_DIR};${sablefold_translated_sources}")
# Written only when the list changes, so a configure run alone does not rerun lupdate.
file(WRITE ${sablefold_translations_dir}/lupdate-sources.new "${sablefold_source_lines}\n")
configure_file(${sablefold_translations_dir}/lupdate-sources.new
               ${sablefold_translations_dir}/lupdate-sources.txt COPYONLY)

set(sablefold_qm_files)
foreach(ts_file ${sablefold_ts_files})
    get_filename_component(ts_name ${ts_file} NAME_WE)
    set(stamp ${sablefold_translations_dir}/${ts_name}.updated)
    set(qm_file ${sablefold_translations_dir}/${ts_name}.qm)
    # No line numbers in the catalogue: with them every edit anywhere in the sources
    # would change the committed file. The English catalogue drops texts that are
    # gone; other languages keep them as vanished, so a translator's work is not lost
    # when a text changes.
    set(lupdate_options -silent -locations none)
    if(ts_name STREQUAL "sablefold_en")
        list(APPEND lupdate_options -no-obsolete)
    endif()
    # lupdate works on a copy in the build tree, and the catalogue in the source tree is
    # replaced only when the copy differs: several build trees share one source tree,
    # and none of them must read a catalogue that another is half-way through writing.
    set(ts_work ${sablefold_translations_dir}/${ts_name}.ts)
    add_custom_command(
        OUTPUT ${stamp}
        BYPRODUCTS ${ts_work}
        COMMAND ${CMAKE_COMMAND} -E copy ${ts_file} ${ts_work}
        COMMAND Qt5::lupdate ${lupdate_options} @${sablefold_translations_dir}/lupdate-sources.txt -ts ${ts_work}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ts_work} ${ts_file}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${sablefold_translated_sources} ${sablefold_translations_dir}/lupdate-sources.txt ${ts_file}
        COMMENT "Updating translations/${ts_name}.ts from the sources"
        VERBATIM)
    add_custom_command(
        OUTPUT ${qm_file}
        COMMAND Qt5::lrelease -silent ${ts_work} -qm ${qm_file}
        DEPENDS ${stamp}
        COMMENT "Compiling ${ts_name}.qm"
        VERBATIM)
    list(APPEND sablefold_qm_files ${qm_file})
endforeach()

if(sablefold_qm_files)
    add_custom_target(sablefold_translations ALL DEPENDS ${sablefold_qm_files})
    install(FILES ${sablefold_qm_files} DESTINATION ${SABLEFOLD_INSTALL_TRANSLATIONSDIR})
endif()

# The controller finds its catalogue from its own folder: beside it in the build tree
# (translations/), at this relative path once installed.
if(TARGET sablefold-controller)
    file(RELATIVE_PATH sablefold_programs_to_translations
         "/prefix/${sablefold_install_programdir}" "/prefix/${SABLEFOLD_INSTALL_TRANSLATIONSDIR}")
    target_compile_definitions(sablefold-controller PRIVATE
        SABLEFOLD_INSTALLED_TRANSLATIONS="${sablefold_programs_to_translations}")
endif()
