function post_install (desc)
  % Octave finds the help of a MEX function in a .m file beside it, but pkg
  % installs .m files and MEX files into different folders: move each
  % plug-in's help file next to its MEX file.
  mexfiles = dir (fullfile (desc.archprefix, "*", "*.mex"));
  for k = 1:numel (mexfiles)
    [~, name] = fileparts (mexfiles(k).name);
    help = fullfile (desc.dir, [name ".m"]);
    if (exist (help, "file"))
      [ok, msg] = movefile (help, fullfile (mexfiles(k).folder, [name ".m"]));
      if (! ok)
        error ("regmex: cannot place the help of %s: %s", name, msg);
      end
    end
  end
end
