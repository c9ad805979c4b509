# The body of /usr/bin/java, /usr/bin/javac and /usr/bin/jar: Apple's stub.
# It runs the tool of $JAVA_HOME, or else of the JDK java_home picks; with no
# JDK registered it says so and fails (on a Mac it also offers to install
# Java). The caller sets `tool`.
. '__SIM_PRIVATE__/lib/common.sh'
if [ -n "${JAVA_HOME-}" ] && [ -x "$JAVA_HOME/bin/$tool" ]; then
    exec "$JAVA_HOME/bin/$tool" "$@"
fi
sim_home=$(/usr/libexec/java_home -F 2>/dev/null) || sim_home=
if [ -z "$sim_home" ] || [ ! -x "$sim_home/bin/$tool" ]; then
    sim_err "The operation couldn’t be completed. Unable to locate a Java Runtime."
    sim_err "Please visit http://www.java.com for information on installing Java."
    exit 1
fi
exec "$sim_home/bin/$tool" "$@"
