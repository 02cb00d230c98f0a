# A configuration other than the default, which scripts/test builds in build/configured and runs
# the whole-run tests against: a counter of another product, deleted from a key two levels up,
# neither HOST.INI nor kvoptemp removed, and version texts of its own. Forced, so that a change
# here reaches a build folder configured before.
set(SELFCLEAN_COUNTER_KEY "SOFTWARE\\Example Maker\\Example Product\\Pending Reboot" CACHE STRING "" FORCE)
set(SELFCLEAN_COUNTER_VALUE "pending" CACHE STRING "" FORCE)
set(SELFCLEAN_COUNTER_PARENT "SOFTWARE\\Example Maker" CACHE STRING "" FORCE)
set(SELFCLEAN_REMOVE_HOST_INI OFF CACHE BOOL "" FORCE)
set(SELFCLEAN_REMOVE_KVOPTEMP OFF CACHE BOOL "" FORCE)
set(SELFCLEAN_COMPANY_NAME "Example Maker Ltd." CACHE STRING "" FORCE)
set(SELFCLEAN_PRODUCT_NAME "Example Product" CACHE STRING "" FORCE)
set(SELFCLEAN_FILE_DESCRIPTION "Example Product's staging folder remover" CACHE STRING "" FORCE)
