# The launch file type, named once here for every installer and package that
# makes the launcher the handler for launch files.
set(LAUNCH_FILE_EXTENSION ".tvl")
set(LAUNCH_FILE_MIME_TYPE "application/x-talvin-launch")
set(LAUNCH_FILE_DESCRIPTION "Talvin launch file")
# The Windows class name (ProgID) that the extension points to.
set(LAUNCH_FILE_PROGID "TalvinLauncher.LaunchFile")
