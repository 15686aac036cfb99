# bash completion for pictavo

# The output formats, as the tool's own help lists them.
_pictavo_output_formats()
{
    "$1" --help 2>/dev/null | sed -n 's/.*--output-format=\([a-z|]*\).*/\1/p' | tr '|' ' '
}

_pictavo()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --format)
            COMPREPLY=($(compgen -W 'auto jpg bmp' -- "$cur"))
            return ;;
        --output-format)
            COMPREPLY=($(compgen -W "$(_pictavo_output_formats "$1")" -- "$cur"))
            return ;;
        --size)
            COMPREPLY=($(compgen -W '999x750 800x600 640x480 480x360 320x240 160x120 1600x1200,800x600,400x300' -- "$cur"))
            return ;;
        --background)
            COMPREPLY=($(compgen -W 'white black grey red green blue yellow silver navy teal' -- "$cur"))
            return ;;
        --quality)
            COMPREPLY=($(compgen -W '90 75 60 50 30' -- "$cur"))
            return ;;
        --metadata)
            COMPREPLY=($(compgen -W 'none safe all' -- "$cur"))
            return ;;
        --jobs | -j)
            COMPREPLY=($(compgen -W "$(seq 1 "$(_ncpus)")" -- "$cur"))
            return ;;
        --output)
            _filedir -d
            return ;;
        --files-from)
            _filedir
            return ;;
        --shard)
            COMPREPLY=($(compgen -W '1/2 2/2 1/3 2/3 3/3 1/4 2/4 3/4 4/4' -- "$cur"))
            return ;;
        --name)
            COMPREPLY=($(compgen -W '{series}{n} {stem} {stem}-{n} {stem}-{w}' -- "$cur"))
            return ;;
        --series | --memory-limit | --max-pixels | --target-size | --total-size | --help | -h | --version | -V)
            return ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--format --output-format --size --quality --metadata --target-size --total-size --sharpen
            --background --fast --series --name --output --recursive --files-from --shard --update --keep-going --jobs
            --memory-limit --max-pixels --strict --quiet --help --version' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    _filedir -d
} &&
    complete -F _pictavo pictavo
