# Turns CHANGES.txt into the Debian changelog: one entry per version, newest first, dated by the
# version's line ("1.04 (2026-12-08)"). The newest entry takes the package's own version, so a
# +dirty build says so there too. A paragraph becomes a "*" item, its "-" list stays under it.
# usage: awk -v package=P -v version=V -v revision=R -v maintainer='M <m@x>' -f changelog.awk CHANGES.txt
function close_entry() {
  if (open) printf "\n -- %s  %s\n", maintainer, date
  open = 0
}
/^[0-9][^ ]* \([0-9]+-[0-9]+-[0-9]+\)$/ {
  close_entry()
  v = entries++ ? $1 : version
  cmd = "date -u -R -d '" substr($2, 2, length($2) - 2) " 12:00'"
  cmd | getline date
  close(cmd)
  if (entries > 1) print ""
  printf "%s (%s-%s) unstable; urgency=medium\n\n", package, v, revision
  open = 1; underline = 1; in_item = 0
  next
}
!open { next }
underline && /^-+$/ { underline = 0; next }
/^$/ { in_item = 0; next }
/^(- |  )/ { print "    " $0; next }
{ print (in_item ? "    " : "  * ") $0; in_item = 1 }
END { close_entry() }
