# Makes the installer lzs-unpack-VERSION-x64.msi with wixl, byte for byte the
# same from the same files: run as cmake -P with
#   WIXL, MSIBUILD, FAKETIME, CONVERT   the tools (CONVERT: ImageMagick's)
#   SOURCE      lzs-unpack.wxs
#   STAGE       a folder for copies of the files to install
#   OUTPUT      the msi to write
#   VERSION     the project's version
#   EPOCH       the time of the files and of the package (seconds since 1970)
#   FILES       the files to install, as Name=path|Name=path... (Name: the
#               wxs variable); a WebPage entry whose file is missing is left out
# Beside SOURCE lie the icon's picture, lzs-unpack.xpm, and the dialogs'
# tables in msi-ui/, in the Windows Installer's text format (.idt).
#
# wixl stamps the package with the time it runs and a random revision code,
# and its cabinet takes each file's time: so the files are staged with the
# time EPOCH, wixl runs with its clock at EPOCH, and msibuild then sets the
# package code from the version and EPOCH. wixl cannot write a component's condition
# nor a search for a key's default value, nor the Environment table, nor
# dialogs: msibuild adds those to the database (see lzs-unpack.wxs).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
get_filename_component(sources ${SOURCE} DIRECTORY)
set(defines)
set(bytes 0)
string(REPLACE "|" ";" entries "${FILES}")
foreach(entry ${entries})
  string(REGEX MATCH "^([A-Za-z]+)=(.+)$" matched "${entry}")
  if(NOT matched)
    message(FATAL_ERROR "bad file entry ${entry}")
  endif()
  if(CMAKE_MATCH_1 STREQUAL "WebPage" AND NOT EXISTS "${CMAKE_MATCH_2}")
    continue()
  endif()
  get_filename_component(name ${CMAKE_MATCH_2} NAME)
  file(COPY_FILE ${CMAKE_MATCH_2} ${STAGE}/${name})
  execute_process(COMMAND touch -d @${EPOCH} ${STAGE}/${name} COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND defines -D ${CMAKE_MATCH_1}=${name})  # wixl takes no absolute paths
  file(SIZE ${STAGE}/${name} size)
  math(EXPR bytes "${bytes} + ${size}")
endforeach()
# Add/Remove Programs: the installed size in KiB, and the icon at the two
# sizes it shows.
math(EXPR kib "(${bytes} + 1023) / 1024")
execute_process(COMMAND ${CONVERT} ${sources}/lzs-unpack.xpm "(" +clone -scale 16x16 ")"
                        ${STAGE}/lzs-unpack.ico
                COMMAND_ERROR_IS_FATAL ANY)
list(APPEND defines -D Size=${kib} -D Icon=lzs-unpack.ico)

# The product code follows from the version (each version a product of its
# own, which MajorUpgrade replaces), the package code from the version and
# the sources' time.
string(UUID product_code NAMESPACE b097cc3c-84ad-49bf-a23e-72cf1e94c1e4
       NAME "lzs-unpack product ${VERSION}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE b097cc3c-84ad-49bf-a23e-72cf1e94c1e4
       NAME "lzs-unpack package ${VERSION} ${EPOCH}" TYPE SHA1 UPPER)

set(ENV{TZ} UTC)
set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
string(TIMESTAMP stamp "%Y-%m-%d %H:%M:%S" UTC)  # reads SOURCE_DATE_EPOCH
file(REMOVE ${OUTPUT})
execute_process(
  COMMAND ${FAKETIME} -f "${stamp}" ${WIXL} -a x64 -D Version=${VERSION}
          -D ProductCode=${product_code} ${defines} -o ${OUTPUT} ${SOURCE}
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE failed ERROR_VARIABLE errors)
# wixl warns of the default-value search it cannot write; it is written below.
string(REGEX REPLACE "[^\n]*wixl_msi_table_reg_locator_add: assertion 'Name != NULL' failed\n?" ""
       errors "${errors}")
string(STRIP "${errors}" errors)
if(failed OR NOT errors STREQUAL "")
  message(FATAL_ERROR "wixl failed: ${errors}")
endif()

# msibuild on the database with one option and its value, as a single
# argument (it may hold ";").
function(msi_build option value)
  execute_process(COMMAND ${FAKETIME} -f "${stamp}" ${MSIBUILD} ${OUTPUT} ${option} "${value}"
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
# One SQL statement on the database.
function(msi_query query)
  msi_build(-q "${query}")
endfunction()

# Who opens .lzs files now, if anyone: the .lzs key's default value in the
# user's classes and in the machine's (root 1 HKEY_CURRENT_USER, 2
# HKEY_LOCAL_MACHINE; type 2|16: the raw value, 64-bit view), which
# HKEY_CLASSES_ROOT merges, the user's first. The .lzs key's default is
# written only where neither names a program, or the user's names ours.
msi_query("INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Type`) VALUES ('LzsUserOwner', 1, 'Software\\Classes\\.lzs', 18)")
msi_query("INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Type`) VALUES ('LzsMachineOwner', 2, 'Software\\Classes\\.lzs', 18)")
msi_query("UPDATE `Component` SET `Condition` = 'LZS_USER_OWNER = \"lzs-unpack.lzs\" OR (NOT LZS_USER_OWNER AND NOT LZS_MACHINE_OWNER)' WHERE `Component` = 'LzsOwner'")
# PATH: the install folder first on the user's own PATH ("[INSTALLDIR];[~]":
# removing it later takes the ";" after it along, where Wine leaves the ";"
# before an entry appended last), or, where the user has none, the whole
# PATH ("[~];[INSTALLDIR]" on no PATH gives the folder alone, still an entry
# of a list, so that entries added later stay); only that entry removed on
# uninstall ("=-": set on install, removed with the component); no "*", so
# the user's PATH, not the system's.
msi_query("CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)")
msi_query("INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('UserPath', '=-PATH', '[INSTALLDIR];[~]', 'UserPath')")
msi_query("INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('UserPathAlone', '=-PATH', '[~];[INSTALLDIR]', 'UserPathAlone')")
msi_query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)")
msi_query("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)")
# Only where the user's PATH lacks the folder (in any case, with or without
# its backslash), or holds it from an install of ours: then uninstalling
# removes just what installing added. The folder alone where the user has no
# PATH, or where an install of ours made the folder the whole PATH (an
# upgrade: the older version removes the PATH before this one writes it);
# else first on it. The texts are set in lzs-unpack.wxs.
set(ours "(LZS_PATH_OURS OR LZS_PATH_ALONE_OURS)")
set(alone "(NOT LZS_USER_PATH OR (${ours} AND LZS_PATH_LIST ~= LZS_FOLDER_ENTRY_SLASH))")
set(missing "NOT (LZS_PATH_LIST ~>< LZS_FOLDER_ENTRY OR LZS_PATH_LIST ~>< LZS_FOLDER_ENTRY_SLASH)")
msi_query("UPDATE `Component` SET `Condition` = '${alone}' WHERE `Component` = 'UserPathAlone'")
msi_query("UPDATE `Component` SET `Condition` = 'NOT ${alone} AND (${ours} OR ${missing})' WHERE `Component` = 'UserPath'")

# The dialogs of a full user interface (a double-click on the msi; msiexec's
# /qn and /qb show none of them): a first page, the progress, and a last page
# for success, cancel and failure (sequence -1, -2, -3). Where it is
# installed already the first page offers Remove, and comes before costing,
# which then takes the REMOVE it sets as if from the command line.
file(GLOB tables ${sources}/msi-ui/*.idt)
foreach(table ${tables})
  msi_build(-i ${table})
endforeach()
foreach(row "WelcomeDlg|NOT Installed|1230" "MaintenanceDlg|Installed AND NOT REMOVE|760"
            "ProgressDlg|1|1290" "ExitDlg|1|-1" "UserExitDlg|1|-2" "FatalErrorDlg|1|-3")
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 dialog)
  list(GET row 1 condition)
  list(GET row 2 sequence)
  msi_query("INSERT INTO `InstallUISequence` (`Action`, `Condition`, `Sequence`) VALUES ('${dialog}', '${condition}', ${sequence})")
endforeach()
execute_process(
  COMMAND ${FAKETIME} -f "${stamp}" ${MSIBUILD} ${OUTPUT}
          -s "lzs-unpack ${VERSION}: unpack and pack LZS files" "The lzs-unpack authors" "x64;1033"
          "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
