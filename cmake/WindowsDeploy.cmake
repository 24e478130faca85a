# What Trasko.exe needs beside it on a Windows machine without Qt or MinGW, and the installer
# that puts it there. Windows looks for a program's libraries in its own folder first, and Qt
# for its plugins in sub-folders of it, so everything is installed into one folder.

# The Qt libraries the program links, and the plugins it loads: the native and the offscreen
# platform, the native style, and the reader of the window's .ico icon.
install(IMPORTED_RUNTIME_ARTIFACTS Qt6::Core Qt6::Gui Qt6::Widgets Qt6::DBus
    RUNTIME DESTINATION .)
foreach(plugin_and_folder
        QWindowsIntegrationPlugin:platforms QOffscreenIntegrationPlugin:platforms
        QWindowsVistaStylePlugin:styles QICOPlugin:imageformats)
    string(REPLACE ":" ";" plugin_and_folder ${plugin_and_folder})
    list(GET plugin_and_folder 0 plugin)
    list(GET plugin_and_folder 1 folder)
    install(FILES $<TARGET_FILE:Qt6::${plugin}> DESTINATION ${folder})
endforeach()

# The toolkit's own texts (its dialogs, --help) in the program's languages, read from
# "translations" beside the program (TRASKO_QT_TRANSLATIONS for the tests too). Qt for Windows is
# built without them; the build machine's Qt, of the same version, has them.
set(TRASKO_QT_TRANSLATIONS "")
foreach(language de es fr)
    set(file "${QT_HOST_PATH}/share/qt6/translations/qtbase_${language}.qm")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "${file} is missing: qt6-translations-l10n installs it")
    endif()
    list(APPEND TRASKO_QT_TRANSLATIONS "${file}")
endforeach()
install(FILES ${TRASKO_QT_TRANSLATIONS} DESTINATION translations)

# The compiler's own run-time libraries, which the Qt libraries link too; the tests need them
# as well (TRASKO_MINGW_RUNTIME).
set(TRASKO_MINGW_RUNTIME "")
foreach(library libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${library} is")
    endif()
    list(APPEND TRASKO_MINGW_RUNTIME ${path})
endforeach()
install(FILES ${TRASKO_MINGW_RUNTIME} DESTINATION .)

# NSIS's 64-bit stub: the installer runs where the program does, and under 64-bit-only Wine.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_FILE_NAME "trasko-${PROJECT_VERSION}-win64")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${PROJECT_NAME}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${PROJECT_NAME}")
set(CPACK_NSIS_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_NSIS_DISPLAY_NAME "${PROJECT_NAME} ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/ui/resources/icon.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/ui/resources/icon.ico")
# The Start-menu entry, and the icon of the entry in the list of installed programs.
set(CPACK_PACKAGE_EXECUTABLES "${PROJECT_NAME};${PROJECT_NAME}")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_INSTALLED_ICON_NAME "${PROJECT_NAME}.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

# "Copy with Trasko…" on folders in Explorer: a verb under the user's own classes, which opens
# the program with the folder as its source. Folders only (Directory), whose paths never end in a
# backslash that would escape the closing quote, as a drive's root would. The uninstaller takes
# the whole key away. Backslashes and quotes are escaped twice: once for this file, once for
# CPack's configuration, which is read again.
set(trasko_verb "Software\\\\Classes\\\\Directory\\\\shell\\\\${PROJECT_NAME}")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
    WriteRegStr HKCU '${trasko_verb}' '' 'Copy with ${PROJECT_NAME}…'
    WriteRegStr HKCU '${trasko_verb}' 'Icon' '$INSTDIR\\\\${PROJECT_NAME}.exe'
    WriteRegStr HKCU '${trasko_verb}\\\\command' '' '\\\"$INSTDIR\\\\${PROJECT_NAME}.exe\\\" \\\"%1\\\"'")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "DeleteRegKey HKCU '${trasko_verb}'")
