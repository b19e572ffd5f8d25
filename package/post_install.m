function post_install(desc)
  % Octave shows the help of a compiled function from the same-named .m file
  % in its own folder, and pkg puts the module in an architecture folder
  % apart from inst/: copy the help file beside the installed module.
  help_file = fullfile(desc.dir, 'korvane.m');
  roots = {desc.dir};
  if isfield(desc, 'archprefix')
    roots{end + 1} = desc.archprefix;
  end
  for r = 1:numel(roots)
    modules = dir(fullfile(roots{r}, '*', 'korvane.mex'));
    for m = 1:numel(modules)
      copyfile(help_file, modules(m).folder);
    end
  end
end
