# Bash completion for quillpack: the modes, their options, --format's values, texture names from the
# archive for --extract, --remove and --rename, and file names by position (archives as .txd, images
# by extension, folders). Self-contained: it works whether or not the bash-completion package is
# loaded, which installs it as /usr/share/bash-completion/completions/quillpack.

# Extensions of the images quillpack reads (it recognises them by content; completion goes by name).
_quillpack_image_extensions='png jpg jpeg bmp dib tga dds pbm pgm ppm pnm pam pfm hdr'

# Adds the files under the word being completed whose lower-case extension is one of $1 (all files
# when $1 is empty), and every folder so that the user can walk into it.
_quillpack_files() {
    local extensions=$1 path lower extension
    compopt -o filenames 2>/dev/null
    while IFS= read -r path; do
        if [[ -d $path ]]; then
            COMPREPLY+=("$path")
            continue
        fi
        [[ -z $extensions ]] && { COMPREPLY+=("$path"); continue; }
        lower=${path,,}
        for extension in $extensions; do
            if [[ $lower == *.$extension ]]; then
                COMPREPLY+=("$path")
                break
            fi
        done
    done < <(compgen -f -- "$cur")
}

_quillpack_folders() {
    compopt -o filenames 2>/dev/null
    local path
    while IFS= read -r path; do
        COMPREPLY+=("$path")
    done < <(compgen -d -- "$cur")
}

# The names of the textures in archive $2, as `quillpack --list` prints them, run with the program $1
# being completed. Nothing when the archive is not a readable file.
_quillpack_names() {
    local program=$1 archive=$2 name
    [[ -f $archive && -r $archive ]] || return 0
    compopt -o filenames 2>/dev/null  # quotes names that hold spaces
    while IFS= read -r name; do
        [[ $name == "$cur"* ]] && COMPREPLY+=("$name")
    done < <("$program" --list "$archive" 2>/dev/null | tail -n +2 | cut -f2)
}

_quillpack() {
    local cur=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    local modes='--add --build --list --extract --remove --rename --help -h --version'
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$modes" -- "$cur")
        else
            _quillpack_files "$_quillpack_image_extensions"
        fi
        return 0
    fi

    local mode=${COMP_WORDS[1]} options=''
    case $mode in
        --add) options='--format --mipmaps --dither --pow2 --name --mask-name --' ;;
        --build) options='--format --mipmaps --dither --pow2 --keep-going --quiet -q --' ;;
        --extract) options='--levels' ;;
        --help | -h | --version) return 0 ;;
    esac

    # An option's own value.
    case $previous in
        --format)
            [[ -n $options ]] && mapfile -t COMPREPLY < <(compgen -W 'dxt1 dxt3 32 8' -- "$cur")
            return 0
            ;;
        --name | --mask-name)
            return 0
            ;;
    esac

    # The arguments before the word being completed: which position it takes, options and their
    # values aside (`--` ends the options).
    local i word position=0 optionsEnded=0 archive=''
    local first=2
    [[ $mode == -* ]] || first=1
    for ((i = first; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((!optionsEnded)) && [[ -n $options && $word == -* ]]; then
            case $word in
                --) optionsEnded=1 ;;
                --format | --name | --mask-name) ((i++)) ;;
            esac
            continue
        fi
        ((position == 0)) && archive=$word
        ((position++))
    done

    # Options come before the archive.
    if ((!optionsEnded && position == 0)) && [[ -n $options && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi

    case $mode in
        --add)
            case $position in
                0) _quillpack_files txd ;;
                1 | 2) _quillpack_files "$_quillpack_image_extensions" ;;
            esac
            ;;
        --build)
            case $position in
                0) _quillpack_files txd ;;
                1) _quillpack_files '' ;;  # a folder, or a list file of any name
            esac
            ;;
        --list)
            ((position == 0)) && _quillpack_files txd
            ;;
        --extract)
            case $position in
                0) _quillpack_files txd ;;
                1) _quillpack_folders ;;
                *) _quillpack_names "${COMP_WORDS[0]}" "$archive" ;;
            esac
            ;;
        --remove)
            case $position in
                0) _quillpack_files txd ;;
                *) _quillpack_names "${COMP_WORDS[0]}" "$archive" ;;
            esac
            ;;
        --rename)
            case $position in
                0) _quillpack_files txd ;;
                1) _quillpack_names "${COMP_WORDS[0]}" "$archive" ;;
            esac
            ;;
        *)
            # The main run: texture image, output archive, alpha image.
            case $position in
                0) _quillpack_files "$_quillpack_image_extensions" ;;
                1) _quillpack_files txd ;;
                2) _quillpack_files "$_quillpack_image_extensions" ;;
            esac
            ;;
    esac
    return 0
}

complete -F _quillpack quillpack
