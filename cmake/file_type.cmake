# The file type of launch files, named once for every package and installer.
set(LAUNCH_FILE_EXTENSION "tvl")
set(LAUNCH_FILE_MIME_TYPE "application/x-talvin-launch")
