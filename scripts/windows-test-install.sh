# Part of scripts/windows-test.sh (sourced; uses its helpers): the installer under Wine.
# --- the installer -----------------------------------------------------------------------------------------
msi=${zip%.zip}.msi
[ -f "$msi" ] || fail "$msi is missing: scripts/windows.sh makes it beside the zip"
version=$(basename "$msi" | sed -n 's/^Vellumark-\([0-9.]*\)-windows-x64\.msi$/\1/p')
wineuser=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -1)
profile=$WINEPREFIX/drive_c/users/$wineuser
installed=$profile/AppData/Local/Programs/Vellumark
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vellumark.lnk"
user_settings=$profile/AppData/Roaming/Vellumark/Vellumark.ini
apps_entry() {   # the "Apps" entries named Vellumark: their DisplayVersion values
  "$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | nocr \
    | awk '/^HKEY/ { vellumark = 0 } /DisplayName.*REG_SZ[ \t]+Vellumark$/ { vellumark = 1 }
           /DisplayVersion/ && vellumark { print $NF }'
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | nocr \
    | awk '/^HKEY/ { vellumark = 0 } /DisplayName.*REG_SZ[ \t]+Vellumark$/ { vellumark = 1 }
           /DisplayVersion/ && vellumark { print $NF }'
}
installed_run() { (cd "$installed" && "$wine" ./Vellumark.exe "$@"); }

"$wine" msiexec /i "$(winpath "$repo/$msi")" /qn || fail "msiexec /i $msi /qn failed"
[ -f "$installed/Vellumark.exe" ] && [ -f "$installed/platforms/qwindows.dll" ] \
  && pass "the installer put the program in %LOCALAPPDATA%\\Programs\\Vellumark without an administrator ($(stat -c %s "$msi") bytes)" \
  || fail "the installed program is not in $installed"
[ "$(installed_run --version | nocr)" = "$("$linux" --version)" ] && pass "the installed program: $(installed_run --version | nocr)" \
  || fail "the installed program's --version differs"
[ -f "$shortcut" ] && pass "Start-menu shortcut: $(basename "$shortcut")" || fail "no Start-menu shortcut at $shortcut"
[ "$(apps_entry)" = "$version" ] && pass "\"Apps\" lists Vellumark $version with an uninstaller" \
  || fail "\"Apps\" lists Vellumark as: $(apps_entry | tr '\n' ' ')"

# The installed copy keeps its settings in %APPDATA%\Vellumark (the folder it runs from is the user's, but
# an upgrade or an uninstall must not touch them); a full run from there writes the Linux build's files.
mkdir -p "$(dirname "$user_settings")" "$work/out-installed"
settings "$user_settings" "$work/out-installed/MyApp.png" windows
installed_run --generate --overwrite=all >/dev/null || fail "the installed program's --generate failed"
[ ! -f "$installed/Vellumark.ini" ] || fail "the installed program made a settings file beside itself"
for f in "$work/out-linux"/*.png; do
  cmp -s "$f" "$work/out-installed/$(basename "$f")" || fail "installed: $(basename "$f") differs from the Linux build's"
done
pass "the installed program's --generate (settings in %APPDATA%\\Vellumark): 53 PNG files as the Linux build's"

# An installer of a higher version, made from the same files, upgrades in place; the settings stay.
higher=$(echo "$version" | awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }')
rm -rf "$work/stage"
mkdir -p "$work/stage"
unzip -q "$zip" -d "$work/stage"
bash scripts/windows-msi.sh "$(ls -d "$work"/stage/*/)" "$higher" "$work/upgrade.msi" >/dev/null
settings_bytes=$(md5sum <"$user_settings")
"$wine" msiexec /i "$(winpath "$work/upgrade.msi")" /qn || fail "the upgrade to $higher failed"
[ "$(apps_entry)" = "$higher" ] || fail "after the upgrade \"Apps\" lists: $(apps_entry | tr '\n' ' ')"
[ "$(installed_run --version | nocr)" = "Vellumark $version" ] || true   # the files are the same build
[ "$(md5sum <"$user_settings")" = "$settings_bytes" ] || fail "the upgrade changed the settings file"
pass "an installer of version $higher upgraded it in place (one entry in \"Apps\"); the settings file is unchanged"

"$wine" msiexec /x "$(winpath "$work/upgrade.msi")" /qn || fail "the silent uninstall failed"
[ ! -e "$installed/Vellumark.exe" ] && [ -z "$(find "$installed" -type f 2>/dev/null)" ] \
  || fail "the uninstall left program files: $(find "$installed" -type f | head -3)"
[ ! -e "$shortcut" ] || fail "the uninstall left the Start-menu shortcut"
[ -z "$(apps_entry)" ] || fail "after the uninstall \"Apps\" still lists Vellumark"
[ "$(md5sum <"$user_settings")" = "$settings_bytes" ] || fail "the uninstall changed or removed the settings file"
pass "a silent uninstall removed the program, its shortcut and its entry, and kept the settings file"
