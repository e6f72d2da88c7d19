# MirelWeb: bring the table caches up to date before visitors ask, as the
# web server's user, so that the first request after the library system's
# nightly update does not rebuild them. Once /etc/mirelweb/aliases.ini
# names the library's tables, uncomment the lines (the alias is Db= of
# /etc/mirelweb/mirelweb.ini). Failures are mailed by cron.
#30 6 * * *      www-data  [ -x /usr/lib/mirelweb/mirelweb-db ] && /usr/lib/mirelweb/mirelweb-db refresh MirelWin >/dev/null
#*/20 8-20 * * * www-data  [ -x /usr/lib/mirelweb/mirelweb-db ] && /usr/lib/mirelweb/mirelweb-db refresh MirelWin >/dev/null
