# Writes the winget manifest of the Windows installers (cmake -P, after each
# build): its three files, version, installer and default locale, in OUT.
#   VERSION    the package's version
#   URL        where the release publishes the installers (the files' names follow)
#   EXTENSION  the launch files' extension; MSIINFO: msitools' msiinfo
#   INSTALLERS the setup programs (*.exe) and packages (*.msi) of either
#              architecture, by the names the builds give them; those not
#              built yet are left out
# Each installer's SHA-256 is that of the file as it is now, signed or not.
set(id Talvin.Launcher)
set(locale en-US)
set(schema 1.6.0)

# YAML single-quoted scalar.
function(quoted var text)
  string(REPLACE "'" "''" text "${text}")
  set(${var} "'${text}'" PARENT_SCOPE)
endfunction()

# head TYPE: the lines every one of the three files starts with.
function(head var type)
  quoted(version "${VERSION}")
  string(TOLOWER "${type}" type)
  set(${var} "# yaml-language-server: $schema=https://aka.ms/winget-manifest.${type}.${schema}.schema.json
PackageIdentifier: ${id}
PackageVersion: ${version}
" PARENT_SCOPE)
endfunction()
set(tail "ManifestVersion: ${schema}\n")

string(REGEX REPLACE "^\\." "" extension "${EXTENSION}")
head(text installer)
string(APPEND text "Scope: user
InstallModes:
- interactive
- silent
- silentWithProgress
UpgradeBehavior: install
FileExtensions:
- ${extension}
Protocols:
- talvin
Installers:
")
set(listed 0)
foreach(file IN LISTS INSTALLERS)
  if(NOT EXISTS "${file}")
    continue()
  endif()
  get_filename_component(name "${file}" NAME)
  if(NOT name MATCHES "-(x86|x64)\\.(exe|msi)$")
    message(FATAL_ERROR "${name}: not an installer's name")
  endif()
  set(arch ${CMAKE_MATCH_1})
  file(SHA256 "${file}" sha256)
  string(TOUPPER ${sha256} sha256)
  quoted(url "${URL}/${name}")
  string(APPEND text "- Architecture: ${arch}\n")
  if(CMAKE_MATCH_2 STREQUAL "exe")
    # The setup program's entry among the installed programs is its
    # product code.
    string(APPEND text "  InstallerType: nullsoft
  InstallerSwitches:
    Silent: /S
    SilentWithProgress: /S
    InstallLocation: /D=<INSTALLPATH>
  ProductCode: TalvinLauncher
")
  else()
    # A package written by wixl, not by the WiX toolset: plain msi, whose
    # switches winget knows; its codes are read from the package itself.
    execute_process(COMMAND "${MSIINFO}" export "${file}" Property OUTPUT_VARIABLE properties
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT properties MATCHES "\nProductCode\t([^\r\n]+)")
      message(FATAL_ERROR "${file}: no product code")
    endif()
    set(product_code "${CMAKE_MATCH_1}")
    string(REGEX MATCH "\nUpgradeCode\t[^\r\n]+" upgrade_code "${properties}")
    string(REGEX REPLACE ".*\t" "" upgrade_code "${upgrade_code}")
    string(APPEND text "  InstallerType: msi
  InstallerSwitches:
    Silent: /quiet /norestart
    SilentWithProgress: /passive /norestart
    InstallLocation: INSTALLFOLDER=\"<INSTALLPATH>\"
  ProductCode: '${product_code}'
  AppsAndFeaturesEntries:
  - UpgradeCode: '${upgrade_code}'
")
  endif()
  string(APPEND text "  InstallerUrl: ${url}\n  InstallerSha256: '${sha256}'\n")
  math(EXPR listed "${listed} + 1")
endforeach()
if(listed EQUAL 0)
  message(FATAL_ERROR "No installer built")
endif()
file(MAKE_DIRECTORY "${OUT}")
file(WRITE "${OUT}/${id}.installer.yaml" "${text}ManifestType: installer\n${tail}")

head(text defaultLocale)
file(WRITE "${OUT}/${id}.locale.${locale}.yaml" "${text}PackageLocale: ${locale}
Publisher: Talvin
PackageName: Talvin Launcher
License: MIT
ShortDescription: Opens downloaded launch files and starts the product they name
Description: The handler that a web browser starts for a downloaded launch file (${EXTENSION}) or a talvin link.
ManifestType: defaultLocale
${tail}")

head(text version)
file(WRITE "${OUT}/${id}.yaml" "${text}DefaultLocale: ${locale}\nManifestType: version\n${tail}")
