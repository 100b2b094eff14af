# fish completion for quaymap-cli: the commands, options and protocols of its usage text.
set -l commands status list add delete keep forget

# The protocol follows add NAME PORT and delete PORT.
function __quaymap_cli_wants_protocol
    set -l words
    set -l value 0
    for word in (commandline -opc)[2..-1]
        if test $value = 1
            set value 0
        else if contains -- $word --router --lease
            set value 1
        else if not string match -q -- '-*' $word
            set -a words $word
        end
    end
    test "$words[1]" = add -a (count $words) = 3; or contains -- "$words[1]" delete forget; and test (count $words) = 2
end

complete -c quaymap-cli -f
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a status -d 'The router, its public address and whether it is public'
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a list -d "The router's port mappings"
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a add -d 'Forward a port to an address (default: this computer)'
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a delete -d 'Remove the mapping of a port'
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a keep -d 'Keep the mappings of a file open'
complete -c quaymap-cli -n "not __fish_seen_subcommand_from $commands" -a forget -d "Drop a port from QuayMap's record, leaving the router"
complete -c quaymap-cli -n "__fish_seen_subcommand_from keep" -F
complete -c quaymap-cli -n __quaymap_cli_wants_protocol -a 'tcp udp both' -d Protocol
complete -c quaymap-cli -l json -d 'One JSON document on standard output'
complete -c quaymap-cli -l router -x -d 'Use this device description URL or the router at this address'
complete -c quaymap-cli -l lease -x -d "The mapping's lease in seconds"
complete -c quaymap-cli -l keep -d 'With add: renew the mapping until interrupted, then delete it'
complete -c quaymap-cli -l check -d 'With keep: only read the file'
complete -c quaymap-cli -s v -l verbose -d "The search's and the client's diagnostics on standard error"
complete -c quaymap-cli -s h -l help -d 'The usage'
complete -c quaymap-cli -l version -d 'The version'
