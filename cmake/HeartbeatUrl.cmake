# Checks that the heartbeat endpoint given to the build is one the plugin may post to: an absolute
# https URL with a host name, the path /plugin/heartbeat, and no port, user, query or fragment.
function(vesperline_check_heartbeat_url url)
  set(host_pattern "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*")
  if(NOT url MATCHES "^https://${host_pattern}/plugin/heartbeat$")
    message(FATAL_ERROR
      "VESPERLINE_HEARTBEAT_URL is \"${url}\", which the plugin cannot post to.\n"
      "It must be an absolute https URL made of a host name and the path /plugin/heartbeat, "
      "with no explicit port, user, query or fragment, for example "
      "https://heartbeat.example.com/plugin/heartbeat")
  endif()
endfunction()
