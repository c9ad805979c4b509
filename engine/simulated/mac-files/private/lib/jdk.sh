# Lays out JDKs the way their installers do. Needs common.sh.

# sim_jdk_home HOME MAJOR ARCH [VENDOR]: a JDK home of the catalogue's release
# of MAJOR: bin/java (and javac, jar, jshell), lib/libjli.dylib and the
# release file that says what it is. ARCH is aarch64/arm64 or x86_64/x64.
sim_jdk_home() {
    sim_home=$1 sim_major=$2 sim_vendor=${4:-Eclipse Adoptium}
    case $3 in aarch64|arm64) sim_arch=aarch64 ;; *) sim_arch=x86_64 ;; esac
    sim_release "$sim_major" || return 1
    /bin/mkdir -p "$sim_home/bin" "$sim_home/lib" || return 1
    for sim_tool in java javac jar jshell; do
        /bin/cp "$SIM_DIR/standins/java" "$sim_home/bin/$sim_tool" || return 1
        /bin/chmod 755 "$sim_home/bin/$sim_tool"
    done
    : > "$sim_home/lib/libjli.dylib"
    if [ "$sim_major" = 8 ]; then
        sim_runtime="$rel_version-$rel_build" sim_implementor="Temurin-$rel_version-$rel_build"
    else
        sim_runtime="$rel_version+$rel_build-LTS" sim_implementor="Temurin-$rel_version+$rel_build"
    fi
    {
        echo "IMPLEMENTOR=\"$sim_vendor\""
        echo "IMPLEMENTOR_VERSION=\"$sim_implementor\""
        echo "JAVA_RUNTIME_VERSION=\"$sim_runtime\""
        echo "JAVA_VERSION=\"$rel_version\""
        echo "JAVA_VERSION_DATE=\"$rel_date\""
        echo "LIBC=\"default\""
        echo "OS_ARCH=\"$sim_arch\""
        echo "OS_NAME=\"Darwin\""
        echo "OS_VERSION=\"11.0\""
    } > "$sim_home/release"
}

# sim_jdk_bundle BUNDLE MAJOR ARCH [VENDOR]: a macOS JDK bundle (BUNDLE is
# the .jdk directory): Contents/Home, Contents/MacOS/libjli.dylib and the
# Info.plist that /usr/libexec/java_home reads.
sim_jdk_bundle() {
    sim_jdk_home "$1/Contents/Home" "$2" "$3" "$4" || return 1
    /bin/mkdir -p "$1/Contents/MacOS" || return 1
    : > "$1/Contents/MacOS/libjli.dylib"
    /bin/cat > "$1/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleDevelopmentRegion</key>
	<string>English</string>
	<key>CFBundleExecutable</key>
	<string>libjli.dylib</string>
	<key>CFBundleGetInfoString</key>
	<string>$sim_vendor $rel_version</string>
	<key>CFBundleIdentifier</key>
	<string>net.temurin.$2.jdk</string>
	<key>CFBundleInfoDictionaryVersion</key>
	<string>7.0</string>
	<key>CFBundleName</key>
	<string>OpenJDK $rel_version</string>
	<key>CFBundlePackageType</key>
	<string>BNDL</string>
	<key>CFBundleShortVersionString</key>
	<string>$rel_version</string>
	<key>JavaVM</key>
	<dict>
		<key>JVMPlatformVersion</key>
		<string>$rel_version</string>
		<key>JVMVendor</key>
		<string>$sim_vendor</string>
		<key>JVMVersion</key>
		<string>$rel_version</string>
	</dict>
</dict>
</plist>
PLIST
}
